#include "link/frame_router.h"

#include <algorithm>
#include <vector>

#include "link/wire/delivery_frames.h"
#include "link/wire/file_record.h"
#include "link/wire/folder_frames.h"

namespace mirka {

FramePlan FrameRouter::PlanOf(const Source& source, const FrameHeader& header) const {
    using Kind = FramePlan::Kind;
    std::uint32_t n = header.lengthField;
    switch (header.code) {
        case NET_CHAT:
        case NET_STATUS:
            return {Kind::Whole, ChatChannel::PayloadBytes(header)};
        case NET_FILE_OFFER:
        case NET_FILE_ACCEPT:
            return {Kind::Whole, static_cast<std::uint32_t>(FileRecord::kBytes)};
        case NET_FILE_DATA:
            return {Kind::Pieces, n};
        case kFolderOfferCode:
        case kFolderEntryCode: {
            // Only where both sides announced folders; elsewhere the header alone is skipped.
            if ((source.SharedCapabilities() & (kFolders | kVerifiedDelivery)) !=
                (kFolders | kVerifiedDelivery))
                return {};
            std::uint32_t limit =
                header.code == kFolderOfferCode ? kMaxFolderNameBytes : kMaxFolderEntryPathBytes;
            return {n > limit ? Kind::Skip : Kind::Whole, n};
        }
        default:
            return {};
    }
}

bool FrameRouter::RoutePiece(Source& source, const FrameHeader& header, const DataPiece& piece) {
    if (transfers.OnFileData(header, piece)) return true;
    source.CloseLink();
    return false;
}

bool FrameRouter::Route(Source& source, const FrameHeader& header, const std::uint8_t* raw,
                        FramePayload& payload) {
    auto shares = [&source](std::uint32_t bits) {
        return (source.SharedCapabilities() & bits) == bits;
    };
    bool ok = true;
    switch (header.code) {
        case NET_CHAT:
            ok = chat.OnChatLine(header, payload);
            break;
        case NET_STATUS:
            ok = chat.OnStatusMessage(header, payload);
            break;
        case NET_DISCONNECT:
            chat.OnDisconnectReceived();
            return false;
        case NET_FILE_CANCEL:
        case NET_FILE_DELETE:
        case NET_FILE_RESEND:
        case NET_FILE_PAUSE:
            TellPeerControl(header);
            ok = transfers.OnFileFrame(header, payload);
            break;
        case NET_FILE_OFFER:
        case NET_FILE_ACCEPT:
            ok = transfers.OnFileFrame(header, payload);
            break;
        case kCapabilitiesCode:
            // A later announcement changes nothing; the log tells of the first of them.
            if (auto bits = DecodeCapabilities(raw);
                bits && source.SetPeerCapabilities(*bits) == 2) {
                AppendLogTo(&window, nullptr,
                            u"SystemError:: \r\n相手が機能の通知をもう一度送ってきたため、"
                            u"無視しました\r\n");
            }
            break;
        case kDigestCode:
        case kReceiptCode:
            // Only between two copies that both announced it; otherwise skipped as unknown.
            if (shares(kVerifiedDelivery)) transfers.OnDeliveryFrame(header.code, raw);
            break;
        case kKeptPartCode:
        case kStartOverCode:
            if (shares(kVerifiedDelivery | kKeptPartProof))
                transfers.OnDeliveryFrame(header.code, raw);
            break;
        case kKeptSampleCode:
            if (shares(kVerifiedDelivery | kKeptPartProof | kKeptSample))
                transfers.OnDeliveryFrame(header.code, raw);
            break;
        case kFolderOfferCode:
        case kFolderEntryCode:
        case kFolderEndCode:
            // Folder frames carry a payload: gathered only where both sides announced folders.
            if (shares(kFolders | kVerifiedDelivery))
                ok = transfers.OnFolderFrame(header, raw, payload);
            break;
        default:
            break;  // keep-alive and codes outside the table: the header alone is skipped
    }
    if (!ok) source.CloseLink();
    return ok;
}

void FrameRouter::TellPeerControl(const FrameHeader& header) {
    auto id = static_cast<std::int32_t>(header.lengthField);
    // Only an id the engine holds: a flood of controls for other ids posts nothing.
    std::vector<TransferFigures> figures = transfers.TransferFiguresSnapshot();
    if (std::none_of(figures.begin(), figures.end(),
                     [id](const TransferFigures& f) { return f.taskId == id; }))
        return;
    TransferControl control = TransferControl::Cancel;
    switch (header.code) {
        case NET_FILE_DELETE:
            control = TransferControl::Delete;
            break;
        case NET_FILE_RESEND:
            control = TransferControl::Resume;
            break;
        case NET_FILE_PAUSE:
            control = TransferControl::Pause;
            break;
        default:
            break;
    }
    // The id's figures first: a send the peer accepted a moment ago shows as waiting until
    // the next refresh, and its cancel would read as a refusal. Before the engine acts, so
    // the window still finds the row under way.
    std::erase_if(figures, [id](const TransferFigures& f) { return f.taskId != id; });
    if (auto shown = window.Borrow()) {
        shown->PostTransferFact(TransferFact::Progress(std::move(figures)));
        shown->PostTransferFact(TransferFact::PeerControl(id, control));
    }
}

}  // namespace mirka
