#pragma once

#include <cstdint>
#include <vector>

#include "common/log_document.h"
#include "link/transfer/transfer_engine.h"
#include "link/window_port.h"
#include "transfer_list/transfer_rows.h"

// What the worker threads tell the terminal end, as values queued to its main thread.
namespace mirka::cli {

struct CliEvent {
    enum class Kind {
        Log,         // runs: one log message
        PeerStatus,  // text
        Title,       // text
        Link,        // linkEvent
        Fact,        // fact
        LinkClosed,
        Box,      // text (boxType, caption): an error or notice the window would show as a box
        Ask,      // offer: asked about, or withdrawn
        Started,  // the link's start returned `started`
    };
    Kind kind = Kind::Log;
    std::vector<LogRun> runs;
    WString text;
    WString caption;
    unsigned boxType = 0;
    LinkEvent linkEvent = LinkEvent::ChatArrived;
    TransferFact fact;
    TransferEngine::OfferAsked offer;
    bool started = false;
};

}  // namespace mirka::cli
