#pragma once

// What the tests of verified delivery share: a manager linked to a raw peer that announces
// chosen capabilities, a file's digest, and the count of a text in a log.
#include <thread>
#include <vector>

#include "link/task_manager.h"
#include "link/wire/delivery_frames.h"
#include "secure/file_digest.h"
#include "support/frames.h"
#include "support/loopback.h"
#include "support/recorders.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"
#include "toolkit/text.h"

namespace mirka::test {

inline std::size_t Count(const WString& text, WStringView part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != WString::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The digest of the first `n` bytes (all of them by default).
inline secure::FileDigest DigestOf(secure::DigestKind kind, const std::vector<char>& bytes,
                                   std::size_t n = static_cast<std::size_t>(-1)) {
    secure::FileHasher hasher(kind);
    hasher.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), std::min(n, bytes.size()));
    return hasher.Final();
}

// A manager linked as the client to a raw peer that announces `peerBits`; the manager
// announces all it knows, and its announcement has been read off. Keep-alives and the wait
// for a receipt are out of the way.
struct RawPeerLink {
    explicit RawPeerLink(std::uint32_t peerBits) {
        using namespace std::chrono_literals;
        manager.SetCapabilities(kKnownCapabilities);
        TaskManagerTestSeam::SetKeepAliveInterval(manager, 1h);
        TaskManagerTestSeam::SetReceiptWait(manager, 1h);
        manager.ownerWindow = &window;
        values.SetReceiveFolder(inbox.WithSeparator());
        std::uint16_t port = peer.Listen();
        std::thread accepter([&] { peer.Accept(); });
        linked = manager.ConnectToServer("127.0.0.1", port);
        accepter.join();
        std::vector<std::uint8_t> own;
        linked = linked && peer.Read(own, FrameHeader::kBytes) &&
                 DecodeCapabilities(own.data()) == kKnownCapabilities;
        auto announcement = EncodeCapabilities(peerBits);
        peer.Send({announcement.begin(), announcement.end()});
    }

    ProgramValues values;
    WindowRecorder window;
    TaskManager manager{&values};
    FakePeer peer;
    TempFolder outbox;
    TempFolder inbox;
    bool linked = false;
};

}  // namespace mirka::test
