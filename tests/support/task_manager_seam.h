#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/task_manager.h"

namespace mirka {

// What tests reach in the link manager beyond what the program uses: the one door the
// manager opens for them (it names this class its friend).
class TaskManagerTestSeam {
public:
    static bool IsDottedIPv4(const std::string& text) { return TaskManager::IsDottedIPv4(text); }
    static bool WaitsForPeer(const TaskManager& manager) { return manager.WaitsForPeer(); }
    static secure::Cipher LinkCipher(const TaskManager& manager) { return manager.LinkCipher(); }
    static void QueueKeepAlive(TaskManager& manager) { manager.QueueKeepAlive(); }
    // Offers a file at once on the calling thread, as the pump would.
    static void OfferFile(TaskManager& manager, const WString& path, int row) {
        manager.transfers.OfferFile(path, row);
    }
    // The link's timings and choices the program leaves at their values.
    using Milliseconds = std::chrono::milliseconds;
    static void SetReceiptWait(TaskManager& m, Milliseconds wait) { m.SetReceiptWait(wait); }
    static void OfferAes(TaskManager& m, bool offer) { m.OfferAes(offer); }
    static void SetHandshakeTimeout(TaskManager& m, Milliseconds t) { m.SetHandshakeTimeout(t); }
    static void SetKeepAliveInterval(TaskManager& m, Milliseconds t) { m.SetKeepAliveInterval(t); }
    static void SetSilenceLimit(TaskManager& m, Milliseconds limit) { m.SetSilenceLimit(limit); }
    static void SetDisconnectPause(TaskManager& m, Milliseconds p) { m.SetDisconnectPause(p); }
    static void SetCloseLinger(TaskManager& m, Milliseconds linger) { m.SetCloseLinger(linger); }
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
