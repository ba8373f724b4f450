#include <gtest/gtest.h>

#include <filesystem>

#include "toolkit/file_system.h"
#include "transfer_list/transfer_rows.h"

namespace mirka {
namespace {

TEST(TransferRows, ColumnsAndNewRow) {
    const auto& columns = TransferColumns();
    EXPECT_EQ(columns[0].heading, u"ファイル名");
    EXPECT_EQ(columns[7].heading, u"パス");
    EXPECT_EQ(columns[7].width, 300);
    EXPECT_TRUE(columns[4].rightAligned);
    EXPECT_FALSE(columns[1].rightAligned);
    TransferRows rows;
    int row = rows.AddTransferRow(u"/tmp/folder/photo.jpg");
    EXPECT_EQ(rows.Cell(row, kColumnName), u"photo.jpg");
    EXPECT_EQ(rows.Cell(row, kColumnExtension), u".jpg");
    EXPECT_EQ(rows.Cell(row, kColumnPath), u"/tmp/folder/photo.jpg");
}

TEST(TransferRows, ProgressFigures) {
    TransferRows rows;
    rows.BindTask(rows.AddTransferRow(u"/a"), TransferDirection::Sending, 0);
    rows.BindTask(rows.AddTransferRow(u"/b"), TransferDirection::Sending, 1);
    rows.BindTask(rows.AddTransferRow(u"/c"), TransferDirection::Receiving, 1);
    RefreshTransferRows(rows, {{TransferDirection::Sending, 0, 250000, 1000000, 1},
                               {TransferDirection::Sending, 1, 0, 1500, 2048000},
                               {TransferDirection::Receiving, 1, 0, 999, 0}});
    EXPECT_EQ(rows.Cell(0, kColumnTransferred), u"250 KB");
    EXPECT_EQ(rows.Cell(0, kColumnPercent), u"25.00%");
    // Right after the offer the rate is 1 byte: the bytes left read as seconds.
    EXPECT_EQ(rows.Cell(0, kColumnRemaining), u"208h20m00s");
    EXPECT_EQ(rows.Cell(1, kColumnSize), u"1 KB");
    EXPECT_EQ(rows.Cell(1, kColumnSpeed), u"2048 KB");
    EXPECT_EQ(rows.Cell(2, kColumnSize), u"0 KB");
    EXPECT_EQ(rows.Cell(2, kColumnRemaining), u"-h--m--s");

    RefreshTransferRows(rows, {{TransferDirection::Sending, 1, 0, 10240000, 2048000}});
    EXPECT_EQ(rows.Cell(1, kColumnRemaining), u"0h00m05s");
    RefreshTransferRows(rows, {{TransferDirection::Sending, 1, 0, 7322, 1}});
    EXPECT_EQ(rows.Cell(1, kColumnRemaining), u"2h02m02s");
    // 10 GiB at the first rate of 1 B/s: hours past the 32-bit range, never negative.
    RefreshTransferRows(rows, {{TransferDirection::Sending, 1, 0, std::int64_t{10} << 30, 1}});
    EXPECT_EQ(rows.Cell(1, kColumnRemaining), u"2982616h10m40s");
    // An empty file keeps its previous percentage text.
    RefreshTransferRows(rows, {{TransferDirection::Sending, 1, 0, 0, 1}});
    EXPECT_EQ(rows.Cell(1, kColumnPercent), u"0.00%");
}

TEST(TransferRows, ACompletedReceptionSaysWhereTheFileIs) {
    TransferFigures done{TransferDirection::Receiving, 3, 5000, 5000, 1};
    done.verified = true;
    EXPECT_EQ(TransferCompleteMessage(done, u"/in/a.txt"),
              u"SystemMessage: \r\nファイルの受信が完了しました\r\nファイル名 > a.txt\r\n"
              u"確認済み: 送られた内容と一致しました\r\n保存先 > /in/\r\n");
    // No folder in the path: the receive folder is the working folder, named in full.
    WString here = FromFsPath(std::filesystem::current_path());
    if (here.back() != kPathSeparator) here += kPathSeparator;
    WString message = TransferCompleteMessage(done, u"a.txt");
    EXPECT_NE(message.find(u"保存先 > " + here + u"\r\n"), WString::npos);
}

TEST(TransferRows, FactsFinishAndEndRows) {
    TransferRows rows;
    auto receiving = TransferDirection::Receiving;
    ApplyTransferFact(rows, TransferFact::Shown(receiving, 3, -1, u"/in/a_[00].txt.tmp"));
    int sendRow = rows.AddTransferRow(u"/out/a.txt");
    ApplyTransferFact(rows,
                      TransferFact::Shown(TransferDirection::Sending, 3, sendRow, u"/out/a.txt"));
    ApplyTransferFact(rows,
                      TransferFact::Finished({receiving, 3, 5000, 5000, 1}, u"/in/a_[00].txt"));
    EXPECT_EQ(TransferCompleteMessage(receiving, u"/in/a_[00].txt"),
              u"SystemMessage: \r\nファイルの受信が完了しました\r\nファイル名 > a_[00].txt\r\n");
    EXPECT_EQ(rows.Cell(0, kColumnPath), u"/in/a_[00].txt");
    EXPECT_EQ(rows.Cell(0, kColumnName), u"a_[00].txt");
    EXPECT_EQ(rows.Cell(0, kColumnExtension), u".txt");
    EXPECT_EQ(rows.Cell(0, kColumnTransferred), u"5 KB");
    EXPECT_EQ(rows.Cell(0, kColumnPercent), u"100.00%");
    EXPECT_EQ(rows.Cell(0, kColumnSpeed), u"0");
    EXPECT_EQ(rows.Cell(0, kColumnRemaining), u"0h00m00s");
    // The same id in the other direction is another row.
    ApplyTransferFact(rows, TransferFact::Status(TransferDirection::Sending, 3, kRowCancelled));
    EXPECT_EQ(rows.Cell(1, kColumnTransferred), u"キャンセルしました");
    // Figures taken before the end and applied after it change neither row.
    ApplyTransferFact(rows, TransferFact::Progress({{receiving, 3, 4000, 5000, 7},
                                                    {TransferDirection::Sending, 3, 10, 90, 7}}));
    EXPECT_EQ(rows.Cell(0, kColumnPercent), u"100.00%");
    EXPECT_EQ(rows.Cell(1, kColumnTransferred), u"キャンセルしました");
    // A row shown as cancelled at once (a file that cannot be read) is ended too.
    ApplyTransferFact(rows, TransferFact::Shown(TransferDirection::Sending, -1, -1,
                                                u"/out/gone.txt", kRowCancelled));
    EXPECT_EQ(rows.Cell(2, kColumnTransferred), u"キャンセルしました");
}

}  // namespace
}  // namespace mirka
