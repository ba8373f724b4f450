#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/log_document.h"
#include "link/window_port.h"
#include "transfer_list/transfer_rows.h"

// What the worker threads tell the terminal end, as values queued to its main thread.
namespace mirka::cli {

// An offer the user is asked about on the terminal. The I/O thread waits for the answer; the
// main thread gives it (a refusal when the run ends first).
class OfferQuestion {
public:
    OfferQuestion(WString name, std::int64_t bytes, bool folder)
        : name(std::move(name)), bytes(bytes), folder(folder) {}
    void Answer(bool take) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!answer) answer = take;
        }
        answered.notify_all();
    }
    // False when no answer came in time.
    bool Wait(std::chrono::milliseconds patience) {
        std::unique_lock<std::mutex> guard(lock);
        answered.wait_for(guard, patience, [this] { return answer.has_value(); });
        if (!answer) answer = false;
        return *answer;
    }

    const WString name;
    const std::int64_t bytes;
    const bool folder;

private:
    std::mutex lock;
    std::condition_variable answered;
    std::optional<bool> answer;
};

struct CliEvent {
    enum class Kind {
        Log,         // runs: one log message
        PeerStatus,  // text
        Title,       // text
        Link,        // linkEvent
        Fact,        // fact
        LinkClosed,
        Box,      // text (boxType, caption): an error or notice the window would show as a box
        Ask,      // question
        Started,  // the link's start returned `started`
    };
    Kind kind = Kind::Log;
    std::vector<LogRun> runs;
    WString text;
    WString caption;
    unsigned boxType = 0;
    LinkEvent linkEvent = LinkEvent::ChatArrived;
    TransferFact fact;
    std::shared_ptr<OfferQuestion> question;
    bool started = false;
};

}  // namespace mirka::cli
