// Writes the seed inputs of every fuzz target into <folder>/<target>/: for the link one
// valid frame of every code (a data frame together with the offer it belongs to) and a
// short conversation, for the readers a typical file or answer each. Made from the
// program's own encoders, so the seeds follow the wire format as it is.

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/chat_font.h"
#include "link/wire/delivery_frames.h"
#include "link/wire/file_record.h"
#include "link/wire/folder_frames.h"
#include "link/wire/frame.h"
#include "secure/file_digest.h"
#include "secure/handshake.h"
#include "support/frames.h"

namespace {

namespace fs = std::filesystem;
using mirka::FrameHeader;
using Bytes = std::vector<std::uint8_t>;

// The size of the source file the link target offers as task 0.
constexpr std::int64_t kSourceBytes = 5000;

void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

Bytes Record(const mirka::WString& name, std::int32_t id, std::int64_t size,
             std::uint32_t checksum = 0, std::int64_t offset = 0) {
    mirka::FileRecord record;
    record.name = name;
    record.taskId = id;
    record.fileSize = size;
    record.checksum = checksum;
    record.offset = offset;
    auto bytes = record.Encode();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes Text(const mirka::WString& text) {
    return mirka::EncodeUtf16Le(text);
}

Bytes Chat(const mirka::WString& line) {
    auto style = mirka::MakeChatFont(u"ＭＳ Ｐゴシック", -210, 0xFF).Encode();
    Bytes payload(style.begin(), style.end());
    Bytes text = Text(line);
    Append(payload, text);
    return mirka::test::EncodeFrame(mirka::NET_CHAT, 0, static_cast<std::uint32_t>(text.size()),
                                    payload);
}

Bytes Status(const mirka::WString& status) {
    Bytes payload = Text(status);
    auto length = static_cast<std::uint32_t>(payload.size());
    Bytes name(256, 0);
    mirka::PutUtf16Field(name.data(), name.size(), u"peer");
    Append(payload, name);
    return mirka::test::EncodeFrame(mirka::NET_STATUS, 0, length, payload);
}

Bytes Data(std::int32_t id, const Bytes& bytes) {
    return mirka::test::EncodeFrame(mirka::NET_FILE_DATA, static_cast<std::uint32_t>(id),
                                    static_cast<std::uint32_t>(bytes.size()), bytes);
}

void Write(const fs::path& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void Write(const fs::path& folder, const std::string& name, const std::string& text) {
    Write(folder, name, Bytes(text.begin(), text.end()));
}

void LinkSeeds(const fs::path& folder) {
    using namespace mirka;
    Write(folder, "keepalive", mirka::test::EncodeFrame(NET_KEEPALIVE, 0, 0));
    Write(folder, "offer",
          mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"seed.txt", 7, 10)));
    Write(folder, "accept",
          mirka::test::EncodeFrame(NET_FILE_ACCEPT, 0, 0, Record(u"source.bin", 0, kSourceBytes)));
    Bytes data = mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"d.bin", 3, 6));
    Append(data, Data(3, {'a', 'b', 'c', 'd', 'e', 'f'}));
    Write(folder, "data", data);
    Write(folder, "chat", Chat(u"peer の発言 (12:34:56): \r\nこんにちは\r\n"));
    Write(folder, "status", Status(u"オンライン"));
    Write(folder, "disconnect", mirka::test::EncodeFrame(NET_DISCONNECT, 0, 0));
    Write(folder, "cancel", mirka::test::EncodeFrame(NET_FILE_CANCEL, 0, 0));
    Write(folder, "delete", mirka::test::EncodeFrame(NET_FILE_DELETE, 0, 0));
    Write(folder, "resend", mirka::test::EncodeFrame(NET_FILE_RESEND, 0, 0));
    Write(folder, "pause", mirka::test::EncodeFrame(NET_FILE_PAUSE, 0, 0));

    // Both directions at once: an offer that is paused, resumed, partly sent and cancelled,
    // chat and status between its chunks, and the accept of this side's own offer.
    Bytes talk = mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"talk.txt", 1, 4100));
    Append(talk,
           mirka::test::EncodeFrame(NET_FILE_ACCEPT, 0, 0, Record(u"source.bin", 0, kSourceBytes)));
    Append(talk, Data(1, Bytes(2048, 'x')));
    Append(talk, Chat(u"a\r\nb\r\n"));
    Append(talk, mirka::test::EncodeFrame(NET_FILE_PAUSE, 0, 0));
    Append(talk, Status(u"離席中"));
    Append(talk, mirka::test::EncodeFrame(NET_FILE_RESEND, 0, 0));
    Append(talk, Data(1, Bytes(2048, 'y')));
    Append(talk, mirka::test::EncodeFrame(NET_FILE_CANCEL, 0, 1));
    Append(talk, mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"talk.txt", 2, 4100)));
    Append(talk, Data(2, Bytes(4100, 'z')));
    Append(talk, mirka::test::EncodeFrame(NET_FILE_DELETE, 0, 0));
    Write(folder, "conversation", talk);

    // The private link's modes (see the target): a peer's hello and confirmation, and a
    // conversation carried in records with a broken record behind it.
    using mirka::secure::HandshakeKind;
    using mirka::secure::MakeHandshakeFrame;
    mirka::secure::Handshake peer(mirka::secure::Role::Responder, mirka::secure::AsBytes("fuzz"));
    Bytes handshake = {0xff, 'P', 'L', 'h'};
    Append(handshake, Bytes(peer.Hello().begin(), peer.Hello().end()));
    auto confirm = MakeHandshakeFrame(HandshakeKind::Confirm);
    Append(handshake, Bytes(confirm.begin(), confirm.end()));
    Write(folder, "private_handshake", handshake);
    auto none = MakeHandshakeFrame(HandshakeKind::NoPassphrase);
    Bytes noPassphrase = {0xff, 'P', 'L', 'h'};
    Append(noPassphrase, Bytes(none.begin(), none.end()));
    Write(folder, "private_no_passphrase", noPassphrase);
    Bytes records = {0xff, 'P', 'L', 'r', 8};
    Append(records, talk);
    Append(records, {0x20, 0, 0, 0, 1, 2, 3, 4});
    Write(folder, "private_records", records);
    // The same ended by the final record, with a record and a frame behind it.
    Bytes ended = {0xff, 'P', 'L', 'r', 0x80 | 56};
    Append(ended, talk);
    Append(ended, {0x20, 0, 0, 0, 1, 2, 3, 4});
    Append(ended, mirka::test::EncodeFrame(NET_KEEPALIVE, 0, 0));
    Write(folder, "private_records_ended", ended);

    // Verified delivery: the announcement, a file with its right digest, a wrong digest for
    // a second one, and receipts for the source file and for nothing. With every capability
    // the digest is SHA-256; a copy that announces only verified delivery gets BLAKE2b-256.
    // Once more in records: the private link passes the announcement like any frame.
    auto verifiedStream = [](std::uint32_t bits, mirka::secure::DigestKind kind) {
        auto announce = mirka::EncodeCapabilities(bits);
        Bytes verified(announce.begin(), announce.end());
        Append(verified, mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"v.txt", 1, 3000)));
        Append(verified, mirka::test::EncodeFrame(NET_FILE_ACCEPT, 0, 0,
                                                  Record(u"source.bin", 0, kSourceBytes)));
        Bytes file(3000, 'v');
        Append(verified, Data(1, file));
        mirka::secure::FileHasher hasher(kind);
        hasher.Update(file.data(), file.size());
        auto digest = mirka::EncodeDigest({1, hasher.Final()});
        Append(verified, Bytes(digest.begin(), digest.end()));
        Append(verified, mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"w.txt", 2, 10)));
        Append(verified, Data(2, Bytes(10, 'w')));
        Append(verified, Bytes(digest.begin(), digest.end()));
        auto again = mirka::EncodeDigest({2, {}});
        Append(verified, Bytes(again.begin(), again.end()));
        for (auto result : {mirka::ReceiptResult::SendAgain, mirka::ReceiptResult::Verified}) {
            auto receipt = mirka::EncodeReceipt({0, result});
            Append(verified, Bytes(receipt.begin(), receipt.end()));
        }
        return verified;
    };
    Write(folder, "verified_delivery",
          verifiedStream(mirka::kKnownCapabilities, mirka::secure::DigestKind::Sha256));
    Write(folder, "verified_delivery_blake2b",
          verifiedStream(mirka::kVerifiedDelivery | mirka::kFolders,
                         mirka::secure::DigestKind::Blake2b256));
    Bytes privateVerified = {0xff, 'P', 'L', 'r', 0};
    Append(privateVerified,
           verifiedStream(mirka::kKnownCapabilities, mirka::secure::DigestKind::Sha256));
    Write(folder, "private_verified_delivery", privateVerified);
    auto announce = mirka::EncodeCapabilities(mirka::kKnownCapabilities);

    // The proof of a kept part. Sending: the source file accepted at 2048 and the receiver's
    // kept part (`right`: its true digest, else a wrong one, which starts the send over), a
    // second kept part and a start over for a task that does not receive. Receiving: a file
    // cut after 5000 of its 6000 bytes is offered again and resumes at 2952, the sender
    // starts it over, sends all of it and its digest.
    auto keptStream = [&](bool right) {
        std::mt19937 generator(1);  // the link target's source file
        Bytes source(kSourceBytes);
        for (auto& b : source) b = static_cast<std::uint8_t>(generator());
        mirka::secure::FileHasher hasher(mirka::secure::DigestKind::Sha256);
        Bytes kept(announce.begin(), announce.end());
        Append(kept, mirka::test::EncodeFrame(NET_FILE_ACCEPT, 0, 0,
                                              Record(u"source.bin", 0, kSourceBytes, 0, 2048)));
        hasher.Update(source.data(), 2048);
        mirka::KeptPartFrame part{0, 2048, right ? hasher.Final() : mirka::secure::FileDigest{}};
        // A kept part this short is its own sample.
        auto sample = mirka::EncodeKeptSample(part);
        Append(kept, Bytes(sample.begin(), sample.end()));
        auto frame = mirka::EncodeKeptPart(part);
        Append(kept, Bytes(frame.begin(), frame.end()));
        Append(kept, Bytes(frame.begin(), frame.end()));
        auto over = mirka::EncodeStartOver(0);
        Append(kept, Bytes(over.begin(), over.end()));
        Bytes file(6000);
        for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7);
        std::uint32_t checksum = mirka::ResumeChecksum(file.data());
        Append(kept,
               mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"k.bin", 3, 6000, checksum)));
        Append(kept, Data(3, Bytes(file.begin(), file.begin() + 5000)));
        Append(kept, mirka::test::EncodeFrame(NET_FILE_CANCEL, 0, 3));
        Append(kept,
               mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"k.bin", 4, 6000, checksum)));
        over = mirka::EncodeStartOver(4);
        Append(kept, Bytes(over.begin(), over.end()));
        Append(kept, Data(4, file));
        hasher.Update(file.data(), file.size());
        auto digest = mirka::EncodeDigest({4, hasher.Final()});
        Append(kept, Bytes(digest.begin(), digest.end()));
        return kept;
    };
    Write(folder, "kept_part", keptStream(true));
    Write(folder, "kept_part_wrong", keptStream(false));
    Bytes privateKept = {0xff, 'P', 'L', 'r', 0};
    Append(privateKept, keptStream(false));
    Write(folder, "private_kept_part", privateKept);

    // Folders: an offer, a sub-folder, a file announced and offered with its data and digest,
    // a hostile path, the end, a receipt for the folder and a cancel for it.
    Bytes folders(announce.begin(), announce.end());
    auto add = [&](const std::string& bytes) {
        Append(folders, Bytes(bytes.begin(), bytes.end()));
    };
    mirka::FolderOfferFrame folderOffer;
    folderOffer.folderId = 7;
    folderOffer.fileCount = 2;
    folderOffer.folderCount = 1;
    folderOffer.totalBytes = 20;
    folderOffer.name = "tree";
    add(mirka::EncodeFolderOffer(folderOffer));
    mirka::FolderEntryFrame entry;
    entry.folderId = 7;
    entry.kind = mirka::FolderEntryKind::Folder;
    entry.path = "sub";
    add(mirka::EncodeFolderEntry(entry));
    entry.kind = mirka::FolderEntryKind::File;
    entry.taskId = 8;
    entry.size = 10;
    entry.path = "sub/f.txt";
    add(mirka::EncodeFolderEntry(entry));
    Append(folders, mirka::test::EncodeFrame(NET_FILE_OFFER, 0, 0, Record(u"f.txt", 8, 10)));
    Append(folders, Data(8, Bytes(10, 'f')));
    auto folderDigest = mirka::EncodeDigest({8, {}});
    Append(folders, Bytes(folderDigest.begin(), folderDigest.end()));
    entry.taskId = 9;
    entry.path = "../x";
    add(mirka::EncodeFolderEntry(entry));
    auto end = mirka::EncodeFolderEnd(7);
    Append(folders, Bytes(end.begin(), end.end()));
    auto folderReceipt = mirka::EncodeReceipt({7, mirka::ReceiptResult::Verified});
    Append(folders, Bytes(folderReceipt.begin(), folderReceipt.end()));
    Append(folders, mirka::test::EncodeFrame(NET_FILE_CANCEL, 0, 7));
    Write(folder, "folders", folders);

    // Inputs that once broke a check, kept so every short run tries them again.
    Write(folder, "regression_empty_status", Status(u""));
}

void SettingsSeeds(const fs::path& folder) {
    Write(folder, "conf",
          "[font]\r\nname=\x82\x6c\x82\x72 \x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e\r\n"
          "size=-210\r\ncolor=255\r\n"
          "[main]\r\nname=\x96\xbc\x96\xb3\x82\xb5\r\nreceive_path=/tmp/in/\r\n"
          "[profile000]\r\nname=default\r\nip=127.0.0.1\r\nport=1225\r\n"
          "[profile001]\r\nname=b\r\nip=example.test\r\nport=70000\r\n"
          "[server]\r\nport=1225\r\n");
    Write(folder, "odd", "[unclosed\nkey=value=more\n=empty key\n[]\n  size = -99999999999\n");
}

void GatewaySeeds(const fs::path& folder) {
    Write(folder, "answer",
          "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
          "Location: http://192.168.0.1:2869/upnp/rootdesc.xml\r\n"
          "SERVER: test\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
          "USN: uuid:1\r\n\r\n");
    Write(folder, "no_port", "HTTP/1.1 200 OK\r\nLocation: http://gw/\r\nST: x\r\n");
}

void SoapSeeds(const fs::path& folder) {
    std::string external =
        "<?xml version=\"1.0\"?>\r\n<s:Envelope><s:Body><u:GetExternalIPAddressResponse>\r\n"
        "<NewExternalIPAddress>203.0.113.7</NewExternalIPAddress>\r\n"
        "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>\r\n";
    std::string ok = "HTTP/1.1 200 OK\r\nCONTENT-TYPE: text/xml\r\nCONTENT-LENGTH: " +
                     std::to_string(external.size()) + "\r\n\r\n" + external;
    std::string fault = "HTTP/1.1 500 Internal Server Error\r\nCONTENT-LENGTH: 0\r\n\r\n";
    Write(folder, "answers", ok + "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 0\r\n\r\n");
    Write(folder, "errors_first", fault + ok + fault + "HTTP/1.1 200 OK\r\n\r\n");
    Write(folder, "address_on_next_line", "<NewExternalIPAddress>\r\n198.51.100.1\r\n");
}

void SearchSeeds(const fs::path& folder) {
    std::string marker = "\x8c\x9f\x8d\xf5\x8c\x8b\x89\xca";  // 検索結果 in Shift_JIS
    std::string result =
        "<li><a class=\"l\" href=\"http://a.test/\">T &amp; <b>t</b></a>"
        "<div class=\"s\">ex &lt;cerpt&gt; &copy;<cite>a.test</cite>";
    Write(folder, "page",
          "abc def\nHTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>\n" + marker +
              result + result + "<a href=\"/search?q=x\">next</a>\n</body></html>\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    fs::path root = argv[1];
    LinkSeeds(root / "link_stream_fuzzer");
    SettingsSeeds(root / "settings_fuzzer");
    GatewaySeeds(root / "gateway_answer_fuzzer");
    SoapSeeds(root / "gateway_soap_fuzzer");
    SearchSeeds(root / "search_page_fuzzer");
    return 0;
}
