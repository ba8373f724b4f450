#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "link/task_manager.h"

namespace mirka {

// What tests reach in the link manager beyond what the program uses: the one door the
// manager opens for them (it names this class its friend).
class TaskManagerTestSeam {
public:
    // Ends a StartServer that is still waiting for its peer.
    static void CancelServerWait(TaskManager& manager) { manager.CancelServerWait(); }
    // The figures of every transfer now, read under the task table's lock.
    static std::vector<TransferFigures> Figures(TaskManager& manager) {
        return manager.transfers.TransferFiguresSnapshot();
    }
    // How long a resumed send waits for the receiver's kept part.
    static void SetKeptPartWait(TaskManager& manager, std::chrono::milliseconds wait) {
        manager.transfers.SetKeptPartWait(wait);
    }
    // The id the next own send would take.
    static std::int32_t NextTaskId(TaskManager& manager) { return manager.transfers.NextTaskId(); }
    // The rows' figures now, rather than at the pump's next second.
    static void RefreshTransfers(TaskManager& manager) { manager.transfers.RefreshTransfers(); }
    // The next links leave their queues to the system, as the program once did (benchmarks
    // measure what keeping them short costs). Before StartServer or ConnectToServer.
    static void LeaveQueuesToTheSystem(TaskManager& manager) {
        manager.queues = PeerLink::Queues::System;
    }
    // The next links size their receive window on every path, as on a long one, instead of
    // fixing the buffer on a short path: tests check the sizing over loopback.
    static void SizeTheWindowOnEveryPath(TaskManager& manager) {
        manager.queues = PeerLink::Queues::WindowOnEveryPath;
    }
};

}  // namespace mirka
