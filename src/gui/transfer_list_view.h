#pragma once

#include <functional>

#include <QTreeWidget>

class QMenu;
class QMimeData;
class QUrl;

#include "transfer_list/transfer_rows.h"

namespace mirka {

// The transfer list in report style: the shown columns with the state, full-row selection, the
// popup menu of status changes and opening a row's file on double-click. The rows' texts come from
// the TransferRows model, which the window thread changes.
class TransferListView : public QTreeWidget {
public:
    // Menu command ids of the popup, as the talk window routes them.
    enum Command {
        kResend = 40028,  // resumes a paused row
        kPause = 40029,
        kDelete = 40024,
        kCancel = 40025,
        kOpenFolder = 40070,
        kRemove = 40071,
    };
    using CommandHandler = std::function<void(int command, int row)>;

    TransferListView(TransferRows& rows, QWidget* parent);
    ~TransferListView() override;

    void Sync();
    void SetCommandHandler(CommandHandler handler) { onCommand = std::move(handler); }
    // The receive folder is the working folder of a file opened by double-click.
    void SetOpenFolder(const QString& folder) { openFolder = folder; }
    int FirstSelectedRow() const;
    // The row menu: only what the row's state allows, nothing without a row.
    void FillPopup(QMenu& menu, int row) const;
    // The row's file, a relative path taken from the receive folder.
    QString RowFilePath(int row) const;
    // What a drag of these rows carries out to a file manager: the files of the finished ones
    // that are still there.
    QList<QUrl> DragUrls(const QList<int>& shownRows) const;

protected:
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
    QStringList mimeTypes() const override;

private:
    void ShowPopup(const QPoint& position);
    void OpenRow(QTreeWidgetItem* item);
    void WidenToFit(QTreeWidgetItem* item, int column);

    TransferRows& rows;
    CommandHandler onCommand;
    QString openFolder;
};

}  // namespace mirka
