// The private link between two managers (through a recording relay) and against raw peers.
#include <thread>

#include <gtest/gtest.h>

#include "link/recording_proxy.h"
#include "link/transfer_support.h"
#include "link/transport/private_link.h"
#include "secure/handshake.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"

namespace mirka {
namespace {

using namespace std::chrono_literals;
using test::Contains;
using test::FakePeer;
using test::MessageRecorder;
using test::RecordingProxy;
using test::Utf16LeBytes;
using test::WaitUntil;

constexpr char16_t kNoMatch[] = u"合言葉が一致しません";
constexpr char16_t kPeerHasNone[] = u"相手は合言葉を使っていません";
constexpr char16_t kPeerWantsOne[] = u"相手は合言葉を求めています";

// The record ciphers this machine can run: both where it has AES instructions.
std::vector<secure::Cipher> Ciphers() {
    std::vector<secure::Cipher> ciphers{secure::Cipher::XChaCha20Poly1305};
    if (secure::AesGcmAvailable()) ciphers.push_back(secure::Cipher::Aes256Gcm);
    return ciphers;
}

// A transfer pair linked through a recording relay, each side with its own passphrase; both
// offer AES-256-GCM only when `cipher` is it.
struct PrivatePair : test::TransferPair {
    explicit PrivatePair(secure::Cipher cipher = secure::Cipher::XChaCha20Poly1305)
        : cipher(cipher) {
        bool aes = cipher == secure::Cipher::Aes256Gcm;
        TaskManagerTestSeam::OfferAes(*server, aes);
        TaskManagerTestSeam::OfferAes(*client, aes);
    }
    void Link(const WString& serverPassphrase, const WString& clientPassphrase,
              RecordingProxy::Tamper tamper = RecordingProxy::Tamper::None) {
        server->SetPassphrase(serverPassphrase);
        client->SetPassphrase(clientPassphrase);
        TaskManagerTestSeam::SetHandshakeTimeout(*server, 3s);
        TaskManagerTestSeam::SetHandshakeTimeout(*client, 3s);
        port = test::FreeLoopbackPort();
        proxy = std::make_unique<RecordingProxy>(port, tamper, cipher);
        std::thread waiter([this] { serverStarted = server->StartServer(port); });
        clientStarted = client->ConnectToServer("127.0.0.1", proxy->Port());
        waiter.join();
    }
    bool BothClosed() {
        return WaitUntil([this] {
            return server->LinkState() == LINK_CLOSED && client->LinkState() == LINK_CLOSED;
        });
    }
    secure::Cipher cipher;
    std::unique_ptr<RecordingProxy> proxy;
    bool serverStarted = false;
    bool clientStarted = false;
};

int CountBoxes(const MessageRecorder& boxes, const WString& text) {
    int count = 0;
    for (const auto& box : boxes.Boxes()) count += box.text == text;
    return count;
}

bool InboxEmpty(const test::TempFolder& folder) {
    return std::filesystem::is_empty(folder.Path());
}

std::vector<std::uint8_t> Slice(const std::vector<char>& bytes, std::size_t at, std::size_t n) {
    return std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + n);
}

TEST(PrivateLink, SamePassphraseCarriesEverythingSealed) {
    for (secure::Cipher cipher : Ciphers()) {
        SCOPED_TRACE(static_cast<int>(cipher));
        MessageRecorder boxes;
        PrivatePair pair(cipher);
        auto content = test::RandomBytes(300 * 1024, 18);
        auto path = pair.outbox.Path() / "naisho.bin";
        test::WriteFile(path, content);
        pair.Link(u"同じ合言葉", u"同じ合言葉");
        ASSERT_TRUE(pair.serverStarted && pair.clientStarted);
        EXPECT_TRUE(pair.server->LinkIsPrivate());
        EXPECT_TRUE(pair.client->LinkIsPrivate());
        EXPECT_EQ(TaskManagerTestSeam::LinkCipher(*pair.server), cipher);
        EXPECT_EQ(TaskManagerTestSeam::LinkCipher(*pair.client), cipher);

        pair.client->QueueStatusMessage(u"ないしょの状態");
        pair.client->QueueChatLine(u"ないしょの話", u"client");
        pair.server->QueueChatLine(u"こちらも秘密", u"server");
        pair.Send(path);
        ASSERT_TRUE(pair.serverWindow.WaitFor(
            [&] { return test::FinishedRows(pair.serverWindow.Transfers()) == 1; }));
        ASSERT_TRUE(pair.clientWindow.WaitFor(
            [&] { return pair.clientWindow.LogText().find(u"こちらも秘密") != WString::npos; }));
        ASSERT_TRUE(pair.serverWindow.WaitFor(
            [&] { return pair.serverWindow.LogText().find(u"ないしょの話") != WString::npos; }));
        EXPECT_EQ(pair.serverWindow.StatusText(), u"ないしょの状態");
        EXPECT_EQ(test::ReadFile(pair.inbox.Path() / "naisho.bin"), content);
        EXPECT_TRUE(boxes.Boxes().empty());

        auto up = pair.proxy->ClientToServer();
        auto down = pair.proxy->ServerToClient();
        ASSERT_GT(up.size(), content.size());
        EXPECT_TRUE(secure::IsHandshakeFrame(up.data()));
        for (const auto* bytes : {&up, &down}) {
            for (const WString& text :
                 {WString(u"ないしょの状態"), WString(u"ないしょの話"), WString(u"こちらも秘密"),
                  WString(u"client"), WString(u"server"), WString(u"naisho.bin")}) {
                EXPECT_FALSE(Contains(*bytes, Utf16LeBytes(text))) << testing::PrintToString(text);
            }
        }
        for (std::size_t at : {std::size_t{0}, std::size_t{4096}, std::size_t{200000}})
            EXPECT_FALSE(Contains(up, Slice(content, at, 32))) << "file bytes at " << at;
    }
}

TEST(PrivateLink, AnOfferOfAesThatThePeerCannotTakeFallsBack) {
    // One side without AES instructions: both run XChaCha20-Poly1305, and the link works.
    for (bool serverHasAes : {true, false}) {
        MessageRecorder boxes;
        PrivatePair pair;
        TaskManagerTestSeam::OfferAes(*pair.server, serverHasAes);
        TaskManagerTestSeam::OfferAes(*pair.client, !serverHasAes);
        pair.Link(u"pass", u"pass");
        ASSERT_TRUE(pair.serverStarted && pair.clientStarted);
        EXPECT_EQ(TaskManagerTestSeam::LinkCipher(*pair.server), secure::Cipher::XChaCha20Poly1305);
        EXPECT_EQ(TaskManagerTestSeam::LinkCipher(*pair.client), secure::Cipher::XChaCha20Poly1305);
        pair.client->QueueChatLine(u"届くかな", u"client");
        EXPECT_TRUE(pair.serverWindow.WaitFor(
            [&] { return pair.serverWindow.LogText().find(u"届くかな") != WString::npos; }));
    }
}

TEST(PrivateLink, TamperedRecordsCloseTheLinkBeforeAnythingIsWritten) {
    for (secure::Cipher cipher : Ciphers()) {
        for (auto tamper : {RecordingProxy::Tamper::FlipByte, RecordingProxy::Tamper::DropRecord,
                            RecordingProxy::Tamper::ReplayRecord}) {
            SCOPED_TRACE(testing::Message()
                         << static_cast<int>(cipher) << " " << static_cast<int>(tamper));
            MessageRecorder boxes;
            PrivatePair pair(cipher);
            auto path = pair.outbox.Path() / "data.bin";
            test::WriteFile(path, test::RandomBytes(100 * 1024, 7));
            pair.Link(u"pass", u"pass", tamper);
            ASSERT_TRUE(pair.serverStarted && pair.clientStarted);
            // The chat line is the client's first record, the offer its second.
            pair.client->QueueChatLine(u"最初の行", u"client");
            pair.Send(path);
            ASSERT_TRUE(WaitUntil([&] { return pair.server->LinkState() == LINK_CLOSED; }));
            EXPECT_TRUE(pair.proxy->Tampered());
            EXPECT_TRUE(pair.BothClosed());
            EXPECT_NE(pair.serverWindow.LogText().find(u"受信したデータの検証に失敗"),
                      WString::npos);
            EXPECT_TRUE(InboxEmpty(pair.inbox));
            EXPECT_TRUE(pair.serverWindow.Transfers().Rows().empty());
            if (tamper != RecordingProxy::Tamper::ReplayRecord) {
                EXPECT_EQ(pair.serverWindow.LogText().find(u"最初の行"), WString::npos);
            }
        }
    }
}

TEST(PrivateLink, MismatchedPassphrasesEndWithABoxAndNothingSent) {
    {
        MessageRecorder boxes;
        PrivatePair pair;
        pair.Link(u"one", u"two");
        EXPECT_FALSE(pair.serverStarted);
        EXPECT_FALSE(pair.clientStarted);
        EXPECT_TRUE(pair.BothClosed());
        EXPECT_EQ(CountBoxes(boxes, kNoMatch), 2);
    }
    for (bool clientHasOne : {true, false}) {
        SCOPED_TRACE(clientHasOne);
        MessageRecorder boxes;
        PrivatePair pair;
        pair.Link(clientHasOne ? u"" : u"pass", clientHasOne ? u"pass" : u"");
        EXPECT_EQ(clientHasOne ? pair.clientStarted : pair.serverStarted, false);
        EXPECT_TRUE(pair.BothClosed());
        EXPECT_TRUE(boxes.WaitFor([&] { return boxes.Boxes().size() >= 2; }));
        EXPECT_EQ(CountBoxes(boxes, kPeerHasNone), 1);
        EXPECT_EQ(CountBoxes(boxes, kPeerWantsOne), 1);
        // The side without a passphrase sent its answer and nothing else.
        auto answer = clientHasOne ? pair.proxy->ServerToClient() : pair.proxy->ClientToServer();
        auto expected = secure::MakeHandshakeFrame(secure::HandshakeKind::NoPassphrase);
        EXPECT_EQ(answer, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    }
}

TEST(PrivateLink, HandshakeBytesAreAllThatPassBeforeAMatch) {
    MessageRecorder boxes;
    PrivatePair pair;
    pair.client->QueueChatLine(u"早すぎる行", u"client");
    pair.Link(u"one", u"two");
    ASSERT_TRUE(pair.BothClosed());
    EXPECT_EQ(pair.proxy->ClientToServer().size(), 2 * secure::kFrameBytes);
    EXPECT_EQ(pair.proxy->ServerToClient().size(), 2 * secure::kFrameBytes);
}

TEST(PrivateLink, OriginalPeers) {
    {
        // A silent original server: the hello, then nothing, and a box on this side.
        MessageRecorder boxes;
        FakePeer peer;
        std::uint16_t port = peer.Listen();
        TaskManager manager;
        manager.SetPassphrase(u"pass");
        TaskManagerTestSeam::SetHandshakeTimeout(manager, 300ms);
        bool started = true;
        std::thread connecter([&] { started = manager.ConnectToServer("127.0.0.1", port); });
        ASSERT_TRUE(peer.Accept());
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(peer.Read(bytes, secure::kFrameBytes));
        EXPECT_TRUE(secure::IsHandshakeFrame(bytes.data()));
        connecter.join();
        EXPECT_FALSE(started);
        EXPECT_EQ(CountBoxes(boxes, kPeerHasNone), 1);
        EXPECT_FALSE(peer.Read(bytes, 1, 1000));
    }
    {
        // An original client that speaks first: its chat line is not processed.
        MessageRecorder boxes;
        ProgramValues values;
        test::WindowRecorder window;
        TaskManager manager(&values);
        manager.ownerWindow = &window;
        manager.SetPassphrase(u"pass");
        std::uint16_t port = test::FreeLoopbackPort();
        bool started = true;
        std::thread waiter([&] { started = manager.StartServer(port); });
        FakePeer peer;
        ASSERT_TRUE(peer.Connect(port));
        auto style = ProgramValues().ChatFont().Encode();
        std::vector<std::uint8_t> payload(style.begin(), style.end());
        auto text = Utf16LeBytes(u"x\r\nplain\r\n");
        payload.insert(payload.end(), text.begin(), text.end());
        peer.Send(test::EncodeFrame(NET_CHAT, 0, static_cast<std::uint32_t>(text.size()), payload));
        waiter.join();
        EXPECT_FALSE(started);
        EXPECT_EQ(CountBoxes(boxes, kPeerHasNone), 1);
        EXPECT_TRUE(window.Messages().empty());
    }
}

TEST(PrivateLink, CopyWithoutPassphrase) {
    {
        // A hello from a peer with a passphrase: the answer, a box, and nothing else read.
        MessageRecorder boxes;
        ProgramValues values;
        test::WindowRecorder window;
        TaskManager manager(&values);
        manager.ownerWindow = &window;
        std::uint16_t port = test::FreeLoopbackPort();
        std::thread waiter([&] { EXPECT_TRUE(manager.StartServer(port)); });
        FakePeer peer;
        ASSERT_TRUE(peer.Connect(port));
        waiter.join();
        secure::Handshake other(secure::Role::Initiator, secure::AsBytes("pass"));
        std::vector<std::uint8_t> bytes(other.Hello().begin(), other.Hello().end());
        auto chat =
            test::EncodeFrame(NET_CHAT, 0, 0, std::vector<std::uint8_t>(CharFormat::kBytes));
        bytes.insert(bytes.end(), chat.begin(), chat.end());
        peer.Send(bytes);
        ASSERT_TRUE(peer.Read(bytes, secure::kFrameBytes));
        auto expected = secure::MakeHandshakeFrame(secure::HandshakeKind::NoPassphrase);
        EXPECT_EQ(bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()));
        ASSERT_TRUE(WaitUntil([&] { return manager.LinkState() == LINK_CLOSED; }));
        EXPECT_TRUE(boxes.WaitFor([&] { return CountBoxes(boxes, kPeerWantsOne) == 1; }));
        // A link the start took up (no wait for a hello here) says in its log why it ended.
        EXPECT_EQ(window.LogText(),
                  u"SystemError:: \r\n相手は合言葉を求めているため、切断しました\r\n");
    }
    {
        // Against an original peer: today's bytes, with nothing before them.
        MessageRecorder boxes;
        FakePeer peer;
        std::uint16_t port = peer.Listen();
        ProgramValues values;
        values.SetUserName(u"name");
        TaskManager manager(&values);
        std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
        ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
        accepter.join();
        EXPECT_FALSE(manager.LinkIsPrivate());
        manager.QueueStatusMessage(u"オンライン");
        auto text = Utf16LeBytes(u"オンライン");
        std::vector<std::uint8_t> payload = text;
        auto name = Utf16LeBytes(u"name");
        name.resize(256, 0);
        payload.insert(payload.end(), name.begin(), name.end());
        auto expected =
            test::EncodeFrame(NET_STATUS, 0, static_cast<std::uint32_t>(text.size()), payload);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(peer.Read(bytes, expected.size()));
        EXPECT_EQ(bytes, expected);
        EXPECT_TRUE(boxes.Boxes().empty());
    }
}

TEST(PrivateLink, TheGateRoutesByTheHandshakesState) {
    using Route = PrivateLink::Route;
    auto keepAlive = test::EncodeFrame(NET_KEEPALIVE, 0, 0);
    secure::Handshake peer(secure::Role::Responder, secure::AsBytes("pass"));
    {
        // With a passphrase: the handshake's until decided; a failed one takes nothing more.
        PrivateLink link;
        ASSERT_TRUE(link.Begin(secure::Role::Initiator, u"pass"));
        EXPECT_EQ(link.RouteOf(keepAlive.data()), Route::Handshake);
        link.OnTimeout();
        EXPECT_EQ(link.RouteOf(keepAlive.data()), Route::Refuse);
        EXPECT_EQ(link.RouteOf(peer.Hello().data()), Route::Refuse);
    }
    {
        // Without one: frames pass, a peer's hello is answered, and after it nothing passes.
        PrivateLink link;
        ASSERT_FALSE(link.Begin(secure::Role::Initiator, u""));
        EXPECT_EQ(link.RouteOf(keepAlive.data()), Route::Owner);
        ASSERT_EQ(link.RouteOf(peer.Hello().data()), Route::Handshake);
        EXPECT_EQ(link.OnPeerFrame(peer.Hello().data()).outcome,
                  secure::Outcome::PeerWantsPassphrase);
        EXPECT_EQ(link.RouteOf(keepAlive.data()), Route::Refuse);
    }
}

constexpr char16_t kCutLine[] = u"接続が途中で断たれました";
constexpr char16_t kDisconnectLine[] = u"切断要求命令を受信したため、切断しました";

bool Logged(const test::WindowRecorder& window, const WString& text) {
    return window.LogText().find(text) != WString::npos;
}

TEST(PrivateLink, AnEndIsToldFromACut) {
    for (secure::Cipher cipher : Ciphers()) {
        SCOPED_TRACE(static_cast<int>(cipher));
        {
            // The disconnect travels in the final record: the peer reads an end, not a cut, and
            // the side that ended it does not take the close that follows for one.
            MessageRecorder boxes;
            PrivatePair pair(cipher);
            pair.Link(u"pass", u"pass");
            ASSERT_TRUE(pair.serverStarted && pair.clientStarted);
            pair.client->Disconnect();
            ASSERT_TRUE(pair.BothClosed());
            ASSERT_TRUE(pair.serverWindow.WaitFor(
                [&] { return Logged(pair.serverWindow, kDisconnectLine); }));
            // Both ends gone, their threads joined: nothing more can be logged.
            pair.server.reset();
            pair.client.reset();
            EXPECT_FALSE(Logged(pair.serverWindow, kCutLine));
            EXPECT_FALSE(Logged(pair.clientWindow, kCutLine));
            EXPECT_EQ(pair.serverWindow.linkClosings(), 1);
            EXPECT_EQ(pair.clientWindow.linkClosings(), 1);
        }
        {
            // Cut in the middle: both sides say so.
            MessageRecorder boxes;
            PrivatePair pair(cipher);
            pair.Link(u"pass", u"pass");
            ASSERT_TRUE(pair.serverStarted && pair.clientStarted);
            pair.proxy->Cut();
            ASSERT_TRUE(pair.BothClosed());
            EXPECT_TRUE(
                pair.serverWindow.WaitFor([&] { return Logged(pair.serverWindow, kCutLine); }));
            EXPECT_TRUE(
                pair.clientWindow.WaitFor([&] { return Logged(pair.clientWindow, kCutLine); }));
        }
    }
    {
        // A plain link has no final record: its close is today's, without a word.
        MessageRecorder boxes;
        PrivatePair pair;
        pair.Link(u"", u"");
        ASSERT_TRUE(pair.serverStarted && pair.clientStarted);
        pair.proxy->Cut();
        ASSERT_TRUE(pair.BothClosed());
        EXPECT_TRUE(pair.serverWindow.Messages().empty());
        EXPECT_TRUE(pair.clientWindow.Messages().empty());
    }
}

// How a raw peer makes the handshake of a copy with the passphrase "pass" fail.
enum class Failing { Deadline, WrongTag, PlainFrame, HelloWithoutConfirm, ShortFrame };

// What a peer sends once the handshake failed: a status, a chat line, an offer and its data.
std::vector<std::uint8_t> TrafficAfterFailure() {
    auto status = Utf16LeBytes(u"x");
    std::vector<std::uint8_t> statusPayload = status;
    statusPayload.resize(status.size() + 256, 0);
    auto bytes =
        test::EncodeFrame(NET_STATUS, 0, static_cast<std::uint32_t>(status.size()), statusPayload);
    auto style = ProgramValues().ChatFont().Encode();
    std::vector<std::uint8_t> chat(style.begin(), style.end());
    auto text = Utf16LeBytes(u"x\r\nplanted\r\n");
    chat.insert(chat.end(), text.begin(), text.end());
    auto chatFrame = test::EncodeFrame(NET_CHAT, 0, static_cast<std::uint32_t>(text.size()), chat);
    bytes.insert(bytes.end(), chatFrame.begin(), chatFrame.end());
    FileRecord record;
    record.name = u"planted.bin";
    record.taskId = 5;
    record.fileSize = 1000;
    auto offer = record.Encode();
    auto offerFrame = test::EncodeFrame(NET_FILE_OFFER, 0, 0, {offer.begin(), offer.end()});
    bytes.insert(bytes.end(), offerFrame.begin(), offerFrame.end());
    auto data = test::EncodeFrame(NET_FILE_DATA, 5, 1000, std::vector<std::uint8_t>(1000, 'p'));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

TEST(PrivateLink, AFailedHandshakeTakesNothingMoreFromThePeer) {
    for (bool managerServes : {true, false}) {
        for (Failing failing : {Failing::Deadline, Failing::WrongTag, Failing::PlainFrame,
                                Failing::HelloWithoutConfirm, Failing::ShortFrame}) {
            SCOPED_TRACE(testing::Message()
                         << "server " << managerServes << " failing " << static_cast<int>(failing));
            MessageRecorder boxes;
            ProgramValues values;
            test::TempFolder inbox;
            values.SetReceiveFolder(inbox.WithSeparator());
            test::WindowRecorder window;
            TaskManager manager(&values);
            manager.ownerWindow = &window;
            manager.SetPassphrase(u"pass");
            TaskManagerTestSeam::SetHandshakeTimeout(manager, 300ms);
            FakePeer peer;
            bool started = true;
            std::thread side;
            if (managerServes) {
                std::uint16_t port = test::FreeLoopbackPort();
                side = std::thread([&, port] { started = manager.StartServer(port); });
                ASSERT_TRUE(WaitUntil([&] { return peer.Connect(port); }));
            } else {
                std::uint16_t port = peer.Listen();
                side = std::thread(
                    [&, port] { started = manager.ConnectToServer("127.0.0.1", port); });
                ASSERT_TRUE(peer.Accept());
            }
            std::vector<std::uint8_t> hello;
            ASSERT_TRUE(peer.Read(hello, secure::kFrameBytes));
            secure::Handshake other(
                managerServes ? secure::Role::Initiator : secure::Role::Responder,
                secure::AsBytes(failing == Failing::WrongTag ? "nope" : "pass"));
            std::vector<std::uint8_t> trigger;
            switch (failing) {
                case Failing::WrongTag: {
                    // A hello, then a confirmation made with another passphrase.
                    trigger.assign(other.Hello().begin(), other.Hello().end());
                    auto step = other.OnPeerFrame(hello.data());
                    ASSERT_TRUE(step.reply);
                    trigger.insert(trigger.end(), step.reply->begin(), step.reply->end());
                    break;
                }
                case Failing::PlainFrame:
                    trigger = test::EncodeFrame(NET_KEEPALIVE, 0, 0);
                    break;
                case Failing::HelloWithoutConfirm:
                    trigger.assign(other.Hello().begin(), other.Hello().end());
                    break;
                case Failing::ShortFrame:
                    trigger.assign(other.Hello().begin(), other.Hello().end() - 1);
                    break;
                case Failing::Deadline:
                    break;
            }
            // A frame that ends the handshake comes with the rest in one write; the deadline
            // cases send the rest once the handshake has failed.
            bool byFrame = failing == Failing::WrongTag || failing == Failing::PlainFrame;
            auto traffic = TrafficAfterFailure();
            if (byFrame) trigger.insert(trigger.end(), traffic.begin(), traffic.end());
            if (!trigger.empty()) peer.Send(trigger);
            ASSERT_TRUE(boxes.WaitFor([&] { return !boxes.Boxes().empty(); }));
            if (!byFrame) peer.Send(traffic);
            side.join();
            EXPECT_FALSE(started);
            EXPECT_TRUE(peer.ClosedByPeer(1000));
            EXPECT_EQ(boxes.Boxes().size(), 1u);
            EXPECT_TRUE(window.Messages().empty());
            EXPECT_TRUE(window.StatusText().empty());
            EXPECT_TRUE(window.Title().empty());
            EXPECT_TRUE(window.Transfers().Rows().empty());
            EXPECT_TRUE(InboxEmpty(inbox));
            EXPECT_EQ(manager.LinkState(), LINK_CLOSED);
        }
    }
}

}  // namespace
}  // namespace mirka
