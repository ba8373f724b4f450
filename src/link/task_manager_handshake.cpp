// The link manager's side of the private link: the passphrase, the handshake at the start of
// a link and the boxes that say why it failed.
#include "link/task_manager.h"
#include "toolkit/message_box.h"

namespace mirka {

namespace {
// The window waits this much longer than the handshake's own deadline, in case the I/O
// thread is slow to report.
constexpr std::chrono::seconds kWaitMargin{5};

const char16_t* OutcomeText(secure::Outcome outcome) {
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
}  // namespace

void TaskManager::SetPassphrase(const WString& text) {
    WipeText(passphrase);
    passphrase = text;
}

bool TaskManager::LinkIsPrivate() const {
    // A closed link is no longer shown as encrypted, whatever its records were.
    enumLinkState state = linkState;
    if (state != LINK_SERVER && state != LINK_CLIENT) return false;
    std::shared_ptr<PeerLink> link = CurrentLink();
    return link && link->Privacy().Sealing();
}

bool TaskManager::WaitForHandshake(PeerLink& link) {
    PrivateLink& privateLink = link.Privacy();
    if (!privateLink.Asked()) return true;
    {
        std::unique_lock<std::mutex> lock(wakeLock);
        wake.wait_for(lock, handshakeTimeout + kWaitMargin,
                      [&] { return privateLink.Decided() || linkState == LINK_CLOSED; });
    }
    if (privateLink.Sealing()) return true;
    // The I/O thread ends the link itself; should it be late, the gate refuses every frame
    // from here on and the shutdown ends its reading.
    privateLink.OnTimeout();
    link.Shutdown();
    SetLinkState(LINK_CLOSED);
    ShowTypedMessage(kMbIconError, kErrorCaption, u"%s",
                     WString(OutcomeText(privateLink.Result())));
    return false;
}

bool TaskManager::OnHandshakeStep(PeerLink& link, secure::Outcome outcome) {
    ioThreadCheck.Assert();
    if (!IsCurrent(link)) return false;
    switch (outcome) {
        case secure::Outcome::Pending:
            return true;
        case secure::Outcome::Established:
            Wake();
            return true;
        case secure::Outcome::PeerWantsPassphrase:
            // This side has no passphrase: the peer hears so, and this user too, without the
            // I/O thread waiting for the box.
            SetLinkState(LINK_CLOSED);
            PostTypedMessage(kMbIconError, kErrorCaption, u"%s", WString(OutcomeText(outcome)));
            return false;
        default:
            // The window thread waits in BeginLink and tells the user; a deadline that passed
            // ends the link the same way.
            SetLinkState(LINK_CLOSED);
            return false;
    }
}

secure::Cipher TaskManager::LinkCipher() const {
    std::shared_ptr<PeerLink> link = CurrentLink();
    return link ? link->Privacy().RecordCipher() : secure::Cipher::XChaCha20Poly1305;
}

void TaskManager::OnCut(PeerLink& link) {
    // Said once, by whoever finds the standing link cut.
    if (!CloseIfCurrent(link)) return;
    AppendLog(nullptr,
              u"SystemError:: \r\n接続が途中で断たれました (相手が切断したのではありません)\r\n");
}

void TaskManager::OnRecordFailure(PeerLink& link) {
    CloseIfCurrent(link);
    if (!link.FirstRecordFailure() || !IsCurrent(link)) return;
    AppendLog(nullptr, u"SystemError:: \r\n受信したデータの検証に失敗したため、切断しました\r\n");
}

}  // namespace mirka
