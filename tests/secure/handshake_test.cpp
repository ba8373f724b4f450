// Two handshakes back to back, without sockets: each frame one sends is given to the other.
#include <gtest/gtest.h>

#include "secure/handshake.h"

namespace mirka::secure {
namespace {

struct Outcomes {
    Outcome client = Outcome::Pending;
    Outcome server = Outcome::Pending;
    int framesToClient = 0;
};

// Both send their hello (when they have a passphrase), then answer each other until done.
Outcomes Exchange(Handshake& client, Handshake& server) {
    std::vector<Frame> toServer, toClient;
    if (client.HasPassphrase()) toServer.push_back(client.Hello());
    if (server.HasPassphrase()) toClient.push_back(server.Hello());
    Outcomes run;
    while (!toServer.empty() || !toClient.empty()) {
        auto deliver = [](std::vector<Frame>& queue, Handshake& to, std::vector<Frame>& back,
                          Outcome& outcome) {
            if (queue.empty()) return;
            Frame frame = queue.front();
            queue.erase(queue.begin());
            if (!to.Takes(frame.data())) return;
            HandshakeStep step = to.OnPeerFrame(frame.data());
            if (step.reply) back.push_back(*step.reply);
            outcome = step.outcome;
        };
        run.framesToClient += !toClient.empty();
        deliver(toServer, server, toClient, run.server);
        deliver(toClient, client, toServer, run.client);
    }
    return run;
}

TEST(Handshake, SamePassphraseGivesCrossedStreamKeys) {
    Handshake client(Role::Initiator, AsBytes("合言葉"));
    Handshake server(Role::Responder, AsBytes("合言葉"));
    Outcomes run = Exchange(client, server);
    ASSERT_EQ(run.client, Outcome::Established);
    ASSERT_EQ(run.server, Outcome::Established);
    EXPECT_EQ(client.Keys().send, server.Keys().receive);
    EXPECT_EQ(client.Keys().receive, server.Keys().send);
    EXPECT_NE(client.Keys().send, client.Keys().receive);

    RecordWriter writer(client.Keys().send);
    std::vector<std::uint8_t> stream;
    writer.Seal(AsBytes("hello"), stream);
    RecordReader reader(server.Keys().receive);
    std::vector<std::uint8_t> out(kMaxRecordPlainBytes);
    std::size_t used = 0, produced = 0;
    ASSERT_EQ(reader.Next(stream, used, out.data(), produced), RecordReader::Result::Opened);
    ASSERT_EQ(reader.Next(std::span(stream).subspan(used), used, out.data(), produced),
              RecordReader::Result::Opened);
    EXPECT_EQ(std::string(out.begin(), out.begin() + produced), "hello");

    // Another run with the same passphrase has other shares and other keys.
    Handshake client2(Role::Initiator, AsBytes("合言葉"));
    Handshake server2(Role::Responder, AsBytes("合言葉"));
    Exchange(client2, server2);
    EXPECT_NE(client2.Hello(), client.Hello());
    EXPECT_NE(client2.Keys().send, client.Keys().send);
}

TEST(Handshake, MismatchesAndMissingPassphrases) {
    {
        Handshake client(Role::Initiator, AsBytes("one"));
        Handshake server(Role::Responder, AsBytes("two"));
        Outcomes run = Exchange(client, server);
        EXPECT_EQ(run.client, Outcome::WrongPassphrase);
        EXPECT_EQ(run.server, Outcome::WrongPassphrase);
        EXPECT_EQ(client.Keys().send, StreamKey{});
    }
    {
        Handshake client(Role::Initiator, AsBytes("one"));
        Handshake server(Role::Responder, {});
        Outcomes run = Exchange(client, server);
        EXPECT_EQ(run.server, Outcome::PeerWantsPassphrase);
        EXPECT_EQ(run.client, Outcome::PeerHasNoPassphrase);
    }
    {
        // Neither has one: nothing is sent at all.
        Handshake client(Role::Initiator, {});
        Handshake server(Role::Responder, {});
        Outcomes run = Exchange(client, server);
        EXPECT_EQ(run.framesToClient, 0);
        EXPECT_EQ(run.client, Outcome::Pending);
    }
    {
        // An original peer: its first frame is an ordinary one, or nothing comes in time.
        Handshake client(Role::Initiator, AsBytes("one"));
        Frame keepAlive{};
        ASSERT_TRUE(client.Takes(keepAlive.data()));
        EXPECT_EQ(client.OnPeerFrame(keepAlive.data()).outcome, Outcome::PeerHasNoPassphrase);
        Handshake silent(Role::Initiator, AsBytes("one"));
        EXPECT_EQ(silent.OnTimeout(), Outcome::PeerHasNoPassphrase);
    }
    {
        // A copy without a passphrase lets every other frame pass, even other handshake kinds.
        Handshake plain(Role::Responder, {});
        Frame chat{};
        chat[0] = 4;
        EXPECT_FALSE(plain.Takes(chat.data()));
        Frame confirm = MakeHandshakeFrame(HandshakeKind::Confirm);
        ASSERT_TRUE(plain.Takes(confirm.data()));
        HandshakeStep step = plain.OnPeerFrame(confirm.data());
        EXPECT_FALSE(step.reply);
        EXPECT_EQ(step.outcome, Outcome::Pending);
    }
}

TEST(Handshake, BadFramesAndReflectionEndIt) {
    auto afterHello = [](Handshake& h, const Frame& frame) {
        return h.OnPeerFrame(frame.data()).outcome;
    };
    {
        // The neutral element and a string that is no element: the run aborts.
        Handshake h(Role::Initiator, AsBytes("one"));
        EXPECT_EQ(afterHello(h, MakeHandshakeFrame(HandshakeKind::Hello)), Outcome::Broken);
        Handshake h2(Role::Initiator, AsBytes("one"));
        std::array<std::uint8_t, 32> bad{};
        bad.fill(0xff);
        EXPECT_EQ(afterHello(h2, MakeHandshakeFrame(HandshakeKind::Hello, bad)), Outcome::Broken);
    }
    {
        Handshake h(Role::Initiator, AsBytes("one"));
        Frame other = Handshake(Role::Responder, AsBytes("one")).Hello();
        other[12] = 2;  // another version
        EXPECT_EQ(afterHello(h, other), Outcome::Broken);
    }
    {
        // Someone who sends a copy's own frames back to it gets nowhere, and is not taken for
        // a peer with another passphrase.
        Handshake client(Role::Initiator, AsBytes("one"));
        EXPECT_EQ(client.OnPeerFrame(client.Hello().data()).outcome, Outcome::Broken);
        Handshake other(Role::Initiator, AsBytes("one"));
        Handshake server(Role::Responder, AsBytes("one"));
        HandshakeStep step = other.OnPeerFrame(server.Hello().data());
        ASSERT_TRUE(step.reply);
        EXPECT_EQ(other.OnPeerFrame(step.reply->data()).outcome, Outcome::Broken);
    }
    {
        // A confirm before any hello, and ordinary frames after the hello.
        Handshake h(Role::Responder, AsBytes("one"));
        EXPECT_EQ(afterHello(h, MakeHandshakeFrame(HandshakeKind::Confirm)), Outcome::Broken);
        Handshake client(Role::Initiator, AsBytes("one"));
        Handshake server(Role::Responder, AsBytes("one"));
        ASSERT_TRUE(server.OnPeerFrame(client.Hello().data()).reply);
        Frame keepAlive{};
        EXPECT_EQ(server.OnPeerFrame(keepAlive.data()).outcome, Outcome::Broken);
    }
}

}  // namespace
}  // namespace mirka::secure
