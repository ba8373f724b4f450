#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "link/window_port.h"
#include "toolkit/message_box.h"

// A talk window and a message presenter for the fuzz targets: they count what they are
// asked to show and keep nothing else, so memory stays flat over millions of inputs.
namespace mirka::fuzz {

class CountingWindow : public TalkWindowPort {
public:
    void AppendLogMessage(std::vector<LogRun> runs) override {
        if (runs.empty()) Fail("an empty log message");
        ++logMessages;
    }
    void SetPeerStatusText(const WString&) override { ++statusTexts; }
    void SetWindowTitle(const WString&) override { ++titles; }
    void ShowLinkEvent(LinkEvent) override {}
    void ShowLinkClosed() override {}
    // Applied here as the window thread would; CheckRows reads them after the link is done.
    void PostTransferFact(TransferFact fact) override {
        std::lock_guard<std::mutex> guard(rowsLock);
        ApplyTransferFact(rows, fact);
    }
    std::vector<TransferRow> Rows() const {
        std::lock_guard<std::mutex> guard(rowsLock);
        return rows.Rows();
    }

    mutable std::mutex rowsLock;
    TransferRows rows;
    std::atomic<int> logMessages{0};
    std::atomic<int> statusTexts{0};
    std::atomic<int> titles{0};

    [[noreturn]] static void Fail(const char* what) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
};

class CountingPresenter : public MessagePresenter {
public:
    int Present(unsigned, const WString&, const WString&) override {
        ++boxes;
        return kIdOk;
    }
    std::atomic<long> boxes{0};
};

}  // namespace mirka::fuzz
