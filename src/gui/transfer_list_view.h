#pragma once

#include <functional>

#include <QTreeWidget>

#include "transfer_list/transfer_rows.h"

namespace mirka {

// The transfer list in report style: the eight columns, full-row selection, the popup menu
// of status changes and opening a row's file on double-click. The rows' texts come from
// the TransferRows model, which the window thread changes.
class TransferListView : public QTreeWidget {
public:
    // Menu command ids of the popup, as the talk window routes them.
    enum Command { kResend = 40028, kPause = 40029, kDelete = 40024, kCancel = 40025 };
    using CommandHandler = std::function<void(int command, int row)>;

    TransferListView(TransferRows& rows, QWidget* parent);
    ~TransferListView() override;

    void Sync();
    void SetCommandHandler(CommandHandler handler) { onCommand = std::move(handler); }
    // The receive folder is the working folder of a file opened by double-click.
    void SetOpenFolder(const QString& folder) { openFolder = folder; }
    int FirstSelectedRow() const;

private:
    void ShowPopup(const QPoint& position);
    void OpenRow(QTreeWidgetItem* item);
    void WidenToFit(QTreeWidgetItem* item, int column);

    TransferRows& rows;
    CommandHandler onCommand;
    QString openFolder;
};

}  // namespace mirka
