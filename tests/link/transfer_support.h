#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/transfer/receive_paths.h"
#include "link/transfer/received_tree.h"
#include "link/wire/delivery_frames.h"
#include "link/wire/file_record.h"
#include "link/wire/folder_frames.h"
#include "secure/file_digest.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka::test {

inline std::vector<char> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<char> bytes(size);
    for (auto& b : bytes) b = static_cast<char>(random());
    return bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<char> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

// Every path below a folder with its bytes ("/" for a folder).
inline std::map<std::string, std::vector<char>> TreeOf(const std::filesystem::path& root) {
    std::map<std::string, std::vector<char>> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        tree[std::filesystem::relative(entry.path(), root).generic_string()] =
            entry.is_directory() ? std::vector<char>{'/'} : ReadFile(entry.path());
    return tree;
}

// What a cut reception leaves of a file: the partial file and the note that marks it as
// this program's, first offered with `offeredSize`.
inline void LeavePartialFile(const std::filesystem::path& path, const std::vector<char>& bytes,
                             std::int64_t offeredSize) {
    WriteFile(path, bytes);
    if (!ReceivePaths::MarkAsPartial(FromFsPath(path), offeredSize)) std::abort();
}

// What a cut reception leaves of a folder: the tree `root` in `inbox` with its note, each
// file (components below the root, and bytes) made through it.
inline void LeaveCutTree(
    const std::filesystem::path& inbox, const WString& root,
    const std::vector<std::pair<std::vector<WString>, std::vector<char>>>& files) {
    auto place = ContainedFolder::Open(FromFsPath(inbox));
    auto tree = place ? ReceivedTree::TakeUp(*place, root) : std::nullopt;
    if (place && !tree) tree = ReceivedTree::Create(*place, root);
    if (!tree) std::abort();
    for (const auto& [below, bytes] : files) {
        std::vector<WString> parent{root};
        parent.insert(parent.end(), below.begin(), below.end() - 1);
        std::vector<std::pair<std::size_t, FileIdentity>> made;
        if (!place->MakeFolders(parent, &made)) std::abort();
        for (const auto& [index, identity] : made)
            tree->Record(ReceivedTree::Kind::Folder,
                         {parent.begin() + 1, parent.begin() + static_cast<long>(index) + 1},
                         identity);
        auto file = tree->CreateFile(below);
        if (!file || !file->Write(bytes.data(), bytes.size())) std::abort();
    }
}

// The digest two copies that announce every capability prove a file with.
inline secure::FileDigest DigestOf(const void* bytes, std::size_t size) {
    secure::FileHasher hasher;
    hasher.Use(secure::DigestKind::Sha256);
    hasher.Update(static_cast<const std::uint8_t*>(bytes), size);
    return hasher.Final();
}

// A raw peer's offer of a file, as the program would send it.
inline void SendOffer(FakePeer& peer, const WString& name, std::int32_t id, std::int64_t size,
                      std::uint32_t checksum = 0) {
    FileRecord record;
    record.name = name;
    record.checksum = checksum;
    record.taskId = id;
    record.fileSize = size;
    auto bytes = record.Encode();
    FrameHeader header;
    header.code = NET_FILE_OFFER;
    peer.SendFrame(header, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// A linked pair where the client sends from one folder and the server receives in another.
struct TransferPair : LinkedPair {
    TransferPair() {
        serverValues.SetReceiveFolder(inbox.WithSeparator());
        clientValues.SetReceiveFolder(clientInbox.WithSeparator());
    }
    // Sends a file from the client as the window does: a row, then SendFile.
    void Send(const std::filesystem::path& path) {
        int row = clientWindow.Transfers().AddTransferRow(FromFsPath(path));
        client->SendFile(FromFsPath(path), row);
    }
    TempFolder outbox;
    TempFolder inbox;
    TempFolder clientInbox;
};

// A manager linked as the client to a raw peer, both announcing every capability of this
// program; the manager's own announcement is left for the peer to read.
struct AnnouncingRawPeer {
    AnnouncingRawPeer() {
        manager.SetCapabilities(kKnownCapabilities);
        manager.ownerWindow = &window;
        std::uint16_t port = peer.Listen();
        std::thread accepter([&] { peer.Accept(); });
        linked = manager.ConnectToServer("127.0.0.1", port);
        accepter.join();
        auto announcement = EncodeCapabilities(kKnownCapabilities);
        peer.Send({announcement.begin(), announcement.end()});
    }
    ProgramValues values;
    WindowRecorder window;
    TaskManager manager{&values};
    FakePeer peer;
    bool linked = false;
};

// A raw peer that announces every capability and sends folders frame by frame.
struct RawFolderPeer : AnnouncingRawPeer {
    void Send(const std::string& bytes) { peer.Send({bytes.begin(), bytes.end()}); }
    void Offer(std::int32_t id, const std::string& name, std::uint32_t files, std::uint32_t folders,
               std::int64_t bytes) {
        FolderOfferFrame offer;
        offer.folderId = id;
        offer.fileCount = files;
        offer.folderCount = folders;
        offer.totalBytes = bytes;
        offer.name = name;
        Send(EncodeFolderOffer(offer));
    }
    // A folder's entry: a sub-folder without a task id, else a file.
    static std::string Entry(std::int32_t folderId, const std::string& path,
                             std::int32_t taskId = -1, std::int64_t size = 0) {
        FolderEntryFrame entry;
        entry.folderId = folderId;
        entry.kind = taskId < 0 ? FolderEntryKind::Folder : FolderEntryKind::File;
        entry.taskId = taskId;
        entry.size = size;
        entry.path = path;
        return EncodeFolderEntry(entry);
    }
};

}  // namespace mirka::test
