// Feeds arbitrary bytes to a TaskManager as the stream from its peer.
//
// Each input gets a fresh TaskManager that connects over loopback to a raw peer (this
// program), which offers nothing and only writes the input, then half-closes. The manager
// therefore reads every byte of the input through its real receive path (the buffered
// header reads, the blocking payload reads, every handler) and ends at the end of the
// stream, which is a clean end for every input however it leaves the framing: no
// resynchronisation is needed, and no state of one input reaches the next. Before the input
// the manager offers one source file of its own (task id 0), so accepts and controls from
// the input find a sending transfer too.
//
// Checked after every input, besides what AddressSanitizer and the memory limits catch:
// the link ended by itself (no handler waits forever), nothing was created outside the
// receive folder and its parent holds nothing new, the offered source file is untouched,
// every receiving row names a file directly inside the receive folder, and no file
// descriptor is left open.
//
// Second mode, the private link: an input that starts with "\xffPLh" is the stream a manager
// with a passphrase reads from its first byte on (hellos, confirmations, anything else); one
// that starts with "\xffPLr" first has the peer complete a real handshake, then the rest is
// sealed into records and sent, except the last n bytes (n = the low 7 bits of the byte
// after the prefix), which follow unsealed, so the frame handlers are reached through the
// records and the record reader meets broken records too. With that byte's high bit set the
// sealed part ends with the final record, so the bytes behind it meet an ended stream.
// In the handshake mode no frame may reach a handler: the window hears nothing.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "fuzz_window.h"
#include "link/task_manager.h"
#include "link/wire/delivery_frames.h"
#include "secure/handshake.h"
#include "support/task_manager_seam.h"
#include "temporary_folder.h"
#include "toolkit/file_system.h"

namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;
using mirka::fuzz::CountingWindow;

constexpr std::size_t kSourceBytes = 5000;
constexpr auto kLinkEndDeadline = std::chrono::seconds(20);
constexpr char kPassphrase[] = "fuzz";
constexpr std::size_t kPrefixBytes = 4;

enum class Mode { Plain, Handshake, Records };

Mode TakeMode(const std::uint8_t*& data, std::size_t& size) {
    if (size < kPrefixBytes || std::memcmp(data, "\xffPL", 3) != 0) return Mode::Plain;
    Mode mode = data[3] == 'h' ? Mode::Handshake : data[3] == 'r' ? Mode::Records : Mode::Plain;
    if (mode != Mode::Plain) {
        data += kPrefixBytes;
        size -= kPrefixBytes;
    }
    return mode;
}

// libFuzzer's time-out alarm (SIGALRM) interrupts a blocking call of this thread; such a call
// goes on where it stopped instead of failing the input.
void ReadFully(tcp::socket& peer, asio::mutable_buffer into, boost::system::error_code& error) {
    auto* bytes = static_cast<std::uint8_t*>(into.data());
    for (std::size_t done = 0; done < into.size();) {
        done += peer.read_some(asio::buffer(bytes + done, into.size() - done), error);
        if (error == asio::error::interrupted) error.clear();
        if (error) return;
    }
}

void WriteFully(tcp::socket& peer, asio::const_buffer from, boost::system::error_code& error) {
    const auto* bytes = static_cast<const std::uint8_t*>(from.data());
    for (std::size_t done = 0; done < from.size();) {
        done += peer.write_some(asio::buffer(bytes + done, from.size() - done), error);
        if (error == asio::error::interrupted) error.clear();
        if (error) return;
    }
}

void Accept(tcp::acceptor& acceptor, tcp::socket& peer) {
    boost::system::error_code error;
    do {
        acceptor.accept(peer, error);
    } while (error == asio::error::interrupted);
    if (error) throw boost::system::system_error(error, "accept");
}

// Plays the server's side of a handshake with the same passphrase, then seals `data`
// (without its last `raw` bytes, which follow as they are). Empty when the handshake fails.
std::vector<std::uint8_t> HandshakeAndSeal(tcp::socket& peer, const std::uint8_t* data,
                                           std::size_t size) {
    std::size_t raw = size > 0 ? std::min<std::size_t>(data[0] & 0x7F, size - 1) : 0;
    auto end = size > 0 && (data[0] & 0x80) != 0 ? mirka::secure::RecordWriter::End::Final
                                                 : mirka::secure::RecordWriter::End::No;
    if (size > 0) {
        ++data;
        --size;
    }
    mirka::secure::Handshake server(mirka::secure::Role::Responder,
                                    mirka::secure::AsBytes(kPassphrase));
    mirka::secure::Frame frame;
    boost::system::error_code error;
    WriteFully(peer, asio::buffer(server.Hello()), error);
    if (!error) ReadFully(peer, asio::buffer(frame), error);
    if (error) return {};
    auto step = server.OnPeerFrame(frame.data());
    if (!step.reply) return {};
    WriteFully(peer, asio::buffer(*step.reply), error);
    if (!error) ReadFully(peer, asio::buffer(frame), error);
    if (error || server.OnPeerFrame(frame.data()).outcome != mirka::secure::Outcome::Established)
        return {};
    mirka::secure::RecordWriter writer(server.Keys().send);
    std::vector<std::uint8_t> stream;
    writer.Seal({data, size - raw}, stream, end);
    stream.insert(stream.end(), data + size - raw, data + size);
    return stream;
}

int CountOpenFiles() {
    int count = 0;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    return count;
}

std::vector<char> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

// Folders and the listening peer, made once per process.
struct Workspace {
    Workspace() : acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        std::random_device random;
        root = mirka::fuzz::FastTemporaryFolder() / ("mirka-fuzz-" + std::to_string(random()));
        parent = root / "parent";
        inbox = parent / "inbox";
        outbox = root / "outbox";
        fs::create_directories(inbox);
        fs::create_directories(outbox);
        source = outbox / "source.bin";
        std::mt19937 bytes(1);
        sourceBytes.resize(kSourceBytes);
        for (char& b : sourceBytes) b = static_cast<char>(bytes());
        std::ofstream(source, std::ios::binary)
            .write(sourceBytes.data(), static_cast<std::streamsize>(sourceBytes.size()));
        mirka::InstallMessagePresenter(&presenter);
        port = acceptor.local_endpoint().port();
        inboxText = mirka::FromFsPath(inbox) + mirka::kPathSeparator;
    }

    fs::path root, parent, inbox, outbox, source;
    mirka::WString inboxText;
    std::vector<char> sourceBytes;
    asio::io_context io;
    tcp::acceptor acceptor;
    std::uint16_t port = 0;
    mirka::fuzz::CountingPresenter presenter;
};

Workspace& Space() {
    static Workspace* space = [] {
        auto* made = new Workspace();
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Space().root, ignored);
        });
        return made;
    }();
    return *space;
}

// Writes the input, half-closes, and reads everything the manager sends until it closes its
// end. False when the manager has not closed within the deadline.
bool FeedAndDrain(Workspace& w, tcp::socket& peer, const std::uint8_t* data, std::size_t size) {
    bool closed = false;
    std::vector<std::uint8_t> sink(64 * 1024);
    std::function<void()> readMore = [&] {
        peer.async_read_some(asio::buffer(sink),
                             [&](const boost::system::error_code& e, std::size_t) {
                                 if (e) {
                                     closed = true;
                                     return;
                                 }
                                 readMore();
                             });
    };
    asio::async_write(peer, asio::buffer(data, size),
                      [&](const boost::system::error_code&, std::size_t) {
                          boost::system::error_code ignored;
                          peer.shutdown(tcp::socket::shutdown_send, ignored);
                      });
    readMore();
    w.io.restart();
    auto deadline = std::chrono::steady_clock::now() + kLinkEndDeadline;
    while (!closed && std::chrono::steady_clock::now() < deadline)
        w.io.run_for(std::chrono::milliseconds(100));
    boost::system::error_code ignored;
    peer.close(ignored);
    w.io.restart();
    w.io.poll();
    return closed;
}

void CheckFolders(Workspace& w) {
    for (fs::recursive_directory_iterator it(w.root), end; it != end; ++it) {
        const fs::path& path = it->path();
        if (path == w.parent || path == w.inbox || path == w.outbox || path == w.source) continue;
        // Received files, and the folders of received folders with their files, all below
        // the receive folder; the program never makes a link.
        auto below = fs::relative(path, w.inbox);
        bool inside = !below.empty() && *below.begin() != "..";
        auto kind = it->symlink_status().type();
        if (inside && (kind == fs::file_type::regular || kind == fs::file_type::directory))
            continue;
        std::fprintf(stderr, "unexpected entry: %s\n", path.c_str());
        CountingWindow::Fail("a file or folder outside the receive folder");
    }
    if (ReadAll(w.source) != w.sourceBytes) CountingWindow::Fail("the source file changed");
}

void CheckRows(Workspace& w, const CountingWindow& window) {
    for (const auto& row : window.Rows()) {
        if (row.direction != mirka::TransferDirection::Receiving) continue;
        const mirka::WString& path = row.cells[mirka::kColumnPath];
        if (!path.starts_with(w.inboxText) ||
            path.find(mirka::kPathSeparator, w.inboxText.size()) != mirka::WString::npos)
            CountingWindow::Fail("a received file outside the receive folder");
    }
}

void EmptyInbox(Workspace& w) {
    for (const auto& entry : fs::directory_iterator(w.inbox)) fs::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Workspace& w = Space();
    int openBefore = CountOpenFiles();
    CountingWindow window;
    Mode mode = TakeMode(data, size);
    {
        mirka::ProgramValues values;
        values.SetReceiveFolder(w.inboxText);
        mirka::TaskManager manager(&values);
        manager.ownerWindow = &window;
        // An input that announces verified delivery reaches the digest and receipt handlers,
        // and with the proof of kept parts the kept part and start over handlers.
        manager.SetCapabilities(mirka::kKnownCapabilities);
        if (mode == Mode::Plain) {
            if (!manager.ConnectToServer("127.0.0.1", w.port)) CountingWindow::Fail("no link");
            tcp::socket peer(w.io);
            Accept(w.acceptor, peer);
            mirka::TaskManagerTestSeam::OfferFile(manager, mirka::FromFsPath(w.source), -1);
            if (!FeedAndDrain(w, peer, data, size)) CountingWindow::Fail("the link did not end");
        } else {
            // With a passphrase the connect waits for the handshake, which needs this peer.
            manager.SetPassphrase(u"fuzz");
            mirka::TaskManagerTestSeam::SetHandshakeTimeout(manager,
                                                            std::chrono::milliseconds(200));
            bool linked = false;
            std::thread connecter([&] { linked = manager.ConnectToServer("127.0.0.1", w.port); });
            tcp::socket peer(w.io);
            Accept(w.acceptor, peer);
            std::vector<std::uint8_t> stream(data, data + size);
            if (mode == Mode::Records) {
                stream = HandshakeAndSeal(peer, data, size);
                connecter.join();
                if (!linked || stream.empty()) CountingWindow::Fail("no private link");
                mirka::TaskManagerTestSeam::OfferFile(manager, mirka::FromFsPath(w.source), -1);
            }
            if (!FeedAndDrain(w, peer, stream.data(), stream.size()))
                CountingWindow::Fail("the link did not end");
            if (connecter.joinable()) connecter.join();
            // Nothing but a real handshake makes the link private.
            if (mode == Mode::Handshake && linked) CountingWindow::Fail("a link from noise");
            if (mode == Mode::Handshake && (window.logMessages || window.statusTexts ||
                                            window.titles || !window.Rows().empty()))
                CountingWindow::Fail("a frame handled without a sealed link");
        }
    }
    CheckFolders(w);
    CheckRows(w, window);
    EmptyInbox(w);
    if (CountOpenFiles() != openBefore) CountingWindow::Fail("a file descriptor stayed open");
    return 0;
}
