#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "common/log_message.h"
#include "common/program_values.h"
#include "gui/talk_window.h"
#include "link/task_manager.h"
#include "support/loopback.h"
#include "transfer_list/transfer_rows.h"

// Windows filled the way a user sees them, for the text-fits walk and the screenshots.
namespace mirka::test {

inline constexpr std::int64_t kTenGiB = 10LL << 30;

// Rows of a 10 GiB transfer in every state: just offered, running, paused half-way,
// cancelled, deleted, finished (sending and receiving).
inline void FillTransferRows(TransferRows& rows) {
    struct Sample {
        const char16_t* path;
        TransferDirection direction;
        std::int64_t done;
        std::uint32_t rate;
    };
    const Sample samples[] = {
        {u"/home/山田/ビデオ/旅行の記録_2026年夏.mp4", TransferDirection::Sending, 0, 1},
        {u"/home/山田/ビデオ/会議の録画.mkv", TransferDirection::Sending, kTenGiB / 3, 104857600},
        {u"/home/山田/受信/バックアップ.tar.tmp", TransferDirection::Receiving, kTenGiB / 2, 0},
        {u"/home/山田/ビデオ/取り消し.iso", TransferDirection::Sending, kTenGiB / 4, 2048000},
        {u"/home/山田/受信/削除.iso.tmp", TransferDirection::Receiving, kTenGiB / 5, 2048000},
        {u"/home/山田/ビデオ/完了.iso", TransferDirection::Sending, kTenGiB, 2048000},
        {u"/home/山田/受信/受信完了.iso.tmp", TransferDirection::Receiving, kTenGiB, 2048000},
    };
    std::vector<TransferFigures> figures;
    for (int i = 0; i < static_cast<int>(std::size(samples)); ++i) {
        int row = rows.AddTransferRow(samples[i].path);
        rows.BindTask(row, samples[i].direction, i);
        figures.push_back({samples[i].direction, i, samples[i].done, kTenGiB, samples[i].rate});
    }
    figures[0].stage = TransferStage::Waiting;
    figures[2].stage = TransferStage::Paused;
    figures[6].verified = true;
    RefreshTransferRows(rows, figures);
    // Receptions show the names their files will have, as the engine tells them.
    rows.SetShownName(2, u"バックアップ.tar");
    rows.SetShownName(4, u"削除.iso");
    SetRowStatusText(rows, TransferDirection::Sending, 3, kRowCancelled);
    SetRowStatusText(rows, TransferDirection::Receiving, 4, kRowDeleted);
    FinishTransferRow(rows, figures[5]);
    FinishTransferRow(rows, figures[6], u"/home/山田/受信/受信完了.iso");
    // Two folders: one arriving, one sent whole.
    int arriving = rows.AddTransferRow(u"/home/山田/受信/旅行の写真");
    rows.BindTask(arriving, TransferDirection::Receiving, 7);
    int sent = rows.AddTransferRow(u"/home/山田/プロジェクト");
    rows.BindTask(sent, TransferDirection::Sending, 8);
    TransferFigures folder{
        TransferDirection::Receiving, 7, kTenGiB / 3, kTenGiB, 52428800, 1234, 10000};
    RefreshTransferRows(rows, {folder});
    FinishTransferRow(rows, {TransferDirection::Sending, 8, 81920000, 81920000, 0, 412, 412});
}

// A talk window on an unlinked manager with a few lines in its log and the sample rows.
struct SampleTalkWindow {
    SampleTalkWindow() {
        window = std::make_unique<TalkWindow>(link, values, "203.0.113.7", TalkWindow::Hooks{});
        window->AppendLog(u"山田 の発言 (12:34:56): \r\nこんにちは。資料を送ります。\r\n");
        // One's own answer, its heading in its own colour.
        std::vector<LogRun> own =
            BuildLogMessage(nullptr, u"佐藤 の発言 (12:35:02): \r\nありがとうございます。\r\n");
        MarkOwnLine(own);
        window->Log().Append(std::move(own));
        window->SetPeerStatusText(u"オンライン");
        FillTransferRows(window->Transfers());
    }
    ProgramValues values;
    TaskManager link{&values};
    std::unique_ptr<TalkWindow> window;
};

// A talk window on a link sealed with a passphrase, over loopback: the encryption mark shows.
struct SealedTalkWindow {
    SealedTalkWindow() {
        pair.server->SetPassphrase(u"ひらけごま");
        pair.client->SetPassphrase(u"ひらけごま");
        linked = pair.Link();
        window = std::make_unique<TalkWindow>(*pair.server, pair.serverValues, "203.0.113.7",
                                              TalkWindow::Hooks{});
        window->AppendLog(u"山田 の発言 (12:34:56): \r\nこんにちは。資料を送ります。\r\n");
        window->SetPeerStatusText(u"オンライン");
    }
    LinkedPair pair;
    bool linked = false;
    std::unique_ptr<TalkWindow> window;  // goes before the link it shows
};

// Runs `action` on the modal dialog that `open` shows, then closes that dialog.
inline void WithModalDialog(const std::function<void()>& open,
                            const std::function<void(QWidget* dialog)>& action) {
    QTimer::singleShot(100, [action] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        action(dialog);
        dialog->close();
        if (auto* asDialog = qobject_cast<QDialog*>(dialog)) asDialog->done(0);
    });
    open();
}

}  // namespace mirka::test
