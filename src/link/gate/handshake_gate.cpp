#include "link/gate/handshake_gate.h"

#include "link/window_port.h"
#include "toolkit/message_box.h"

namespace mirka {

namespace {
// The window waits this much longer than the handshake's own deadline, in case the I/O
// thread is slow to report.
constexpr std::chrono::seconds kWaitMargin{5};
}  // namespace

const char16_t* HandshakeOutcomeText(secure::Outcome outcome) {
    switch (outcome) {
        case secure::Outcome::WrongPassphrase:
            return u"合言葉が一致しません";
        case secure::Outcome::PeerHasNoPassphrase:
            return u"相手は合言葉を使っていません";
        case secure::Outcome::PeerWantsPassphrase:
            return u"相手は合言葉を求めています";
        case secure::Outcome::Broken:
            // A malformed or reflected handshake: nothing says the passphrases differ.
            return u"相手を確認できませんでした";
        default:
            return u"暗号化された接続を確立できませんでした";
    }
}

bool HandshakeGate::WaitForHandshake(PeerLink& link, std::chrono::milliseconds handshakeTimeout,
                                     std::chrono::milliseconds helloWait) {
    PrivateLink& privateLink = link.Privacy();
    if (!privateLink.Asked()) {
        // A peer with a passphrase sends its hello first thing; any other frame, or silence,
        // says it has none. Nothing goes out meanwhile that would not go out anyway.
        if (helloWait <= std::chrono::milliseconds::zero()) return true;
        owner.WaitForChange([&] { return privateLink.Decided() || owner.PeerHeard(link); },
                            helloWait);
        // The I/O thread has answered the hello, closed the link and told the user; the
        // answer still goes out as the link ends.
        return !privateLink.Decided();
    }
    owner.WaitForChange([&] { return privateLink.Decided(); }, handshakeTimeout + kWaitMargin);
    if (privateLink.Sealing()) return true;
    // The I/O thread ends the link itself; should it be late, the gate refuses every frame
    // from here on and the shutdown ends its reading.
    privateLink.OnTimeout();
    link.Shutdown();
    owner.CloseLink();
    ShowTypedMessage(kMbIconError, kErrorCaption, u"%s",
                     WString(HandshakeOutcomeText(privateLink.Result())));
    return false;
}

bool HandshakeGate::OnHandshakeStep(PeerLink& link, secure::Outcome outcome) {
    ioThread.Assert();
    if (!owner.IsCurrent(link)) return false;
    switch (outcome) {
        case secure::Outcome::Pending:
            return true;
        case secure::Outcome::Established:
            owner.Wake();
            return true;
        case secure::Outcome::PeerWantsPassphrase:
            // This side has no passphrase: the peer hears so, and this user too, without the
            // I/O thread waiting for the box. A start still waiting for the peer's first frame
            // fails with it; a hello later than that ends a link the talk window shows, whose
            // log then says why in the one line of the link's end.
            AppendLog(u"SystemError:: \r\n相手は合言葉を求めているため、切断しました\r\n");
            if (auto shown = window.Borrow()) shown->ShowLinkEvent(LinkEvent::PeerEndedLink);
            owner.CloseLink();
            PostTypedMessage(kMbIconError, kErrorCaption, u"%s",
                             WString(HandshakeOutcomeText(outcome)));
            return false;
        default:
            // The window thread waits in WaitForHandshake and tells the user; a deadline that
            // passed ends the link the same way.
            owner.CloseLink();
            return false;
    }
}

void HandshakeGate::OnCut(PeerLink& link) {
    ioThread.Assert();
    // Said once, by whoever finds the standing link cut.
    if (!owner.CloseIfCurrent(link)) return;
    AppendLog(u"SystemError:: \r\n接続が途中で断たれました (相手が切断したのではありません)\r\n");
}

void HandshakeGate::OnRecordFailure(PeerLink& link) {
    ioThread.Assert();
    owner.CloseIfCurrent(link);
    if (!link.FirstRecordFailure() || !owner.IsCurrent(link)) return;
    AppendLog(u"SystemError:: \r\n受信したデータの検証に失敗したため、切断しました\r\n");
}

void HandshakeGate::AppendLog(WStringView text) {
    AppendLogTo(&window, nullptr, text);
}

}  // namespace mirka
