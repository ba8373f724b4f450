#include "gui/transfer_list_view.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QStyleOptionViewItem>
#include <QUrl>

#include "gui/desktop.h"
#include "gui/queued_sync.h"

namespace mirka {

TransferListView::TransferListView(TransferRows& rows, QWidget* parent)
    : QTreeWidget(parent), rows(rows) {
    // InitTransferColumns: headings, widths and alignment.
    const auto& columns = ShownTransferColumns();
    setColumnCount(kShownColumnCount);
    QStringList headings;
    for (const auto& column : columns)
        headings << QString::fromStdU16String(WString(column.heading));
    setHeaderLabels(headings);
    for (int i = 0; i < kShownColumnCount; ++i) {
        // The listed widths are for the classic 8-point font; a heading keeps its whole text.
        setColumnWidth(i, std::max(columns[i].width, header()->sectionSizeHint(i)));
        headerItem()->setTextAlignment(i, columns[i].rightAligned
                                              ? Qt::AlignRight | Qt::AlignVCenter
                                              : Qt::AlignLeft | Qt::AlignVCenter);
    }
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // A finished row drags out as its file; nothing drops in here.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    connect(this, &QWidget::customContextMenuRequested, this, &TransferListView::ShowPopup);
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { OpenRow(item); });
    rows.SetListener(QueuedSync(this, &TransferListView::Sync));
    Sync();
}

TransferListView::~TransferListView() {
    rows.SetListener(nullptr);
}

void TransferListView::Sync() {
    const auto all = rows.Rows();
    const auto& columns = ShownTransferColumns();
    for (int i = topLevelItemCount(); i < static_cast<int>(all.size()); ++i) {
        auto* item = new QTreeWidgetItem(this);
        for (int c = 0; c < kShownColumnCount; ++c) {
            item->setTextAlignment(c, columns[c].rightAligned ? Qt::AlignRight | Qt::AlignVCenter
                                                              : Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    for (int i = 0; i < static_cast<int>(all.size()); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        // A removed row keeps its place, hidden, so items and rows keep one index.
        if (item->isHidden() != all[i].removed) item->setHidden(all[i].removed);
        const auto cells = ShownCells(all[i]);
        for (int c = 0; c < kShownColumnCount; ++c) {
            QString text = QString::fromStdU16String(cells[c]);
            if (item->text(c) == text) continue;
            item->setText(c, text);
            WidenToFit(item, c);
        }
    }
}

void TransferListView::WidenToFit(QTreeWidgetItem* item, int column) {
    // A column grows to its widest text, so no figure or status is cut to "…".
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int needed = itemDelegate()->sizeHint(option, indexFromItem(item, column)).width();
    if (needed > columnWidth(column)) setColumnWidth(column, needed);
}

int TransferListView::FirstSelectedRow() const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) return i;
    return -1;
}

void TransferListView::FillPopup(QMenu& menu, int row) const {
    std::optional<TransferRow> shown = rows.Row(row);
    if (!shown) return;
    auto add = [&](const char16_t* text, int command) {
        QAction* action = menu.addAction(QString::fromStdU16String(text));
        action->setData(command);
    };
    for (RowCommand command : RowCommands(*shown)) {
        switch (command) {
            case RowCommand::Resume:
                add(u"再開 (&R)", kResend);
                break;
            case RowCommand::Pause:
                add(u"中断 (&P)", kPause);
                break;
            case RowCommand::Delete:
                menu.addSeparator();
                add(u"削除 (&D)", kDelete);
                break;
            case RowCommand::Cancel:
                menu.addSeparator();
                add(u"キャンセル (&C)", kCancel);
                break;
            case RowCommand::OpenFolder:
                add(u"フォルダを開く (&O)", kOpenFolder);
                break;
            case RowCommand::Remove:
                menu.addSeparator();
                add(u"一覧から消す (&L)", kRemove);
                break;
        }
    }
}

void TransferListView::ShowPopup(const QPoint& position) {
    QMenu menu(this);
    int row = FirstSelectedRow();
    FillPopup(menu, row);
    if (menu.isEmpty()) return;
    QAction* chosen = menu.exec(viewport()->mapToGlobal(position));
    if (chosen && onCommand) onCommand(chosen->data().toInt(), row);
}

QString TransferListView::RowFilePath(int row) const {
    QString path = QString::fromStdU16String(rows.Cell(row, kColumnPath)).left(260);
    // A relative path opens from the receive folder, as the shell would with it as the
    // working folder; a missing file simply fails.
    if (QDir::isRelativePath(path) && !openFolder.isEmpty()) path = QDir(openFolder).filePath(path);
    return path;
}

QList<QUrl> TransferListView::DragUrls(const QList<int>& shownRows) const {
    QList<QUrl> urls;
    for (int row : shownRows) {
        std::optional<TransferRow> shown = rows.Row(row);
        if (!shown || shown->removed) continue;
        if (shown->stage != TransferStage::Done && shown->stage != TransferStage::Verified)
            continue;
        QFileInfo file(RowFilePath(row));
        if (file.exists()) urls << QUrl::fromLocalFile(file.absoluteFilePath());
    }
    return urls;
}

QStringList TransferListView::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* TransferListView::mimeData(const QList<QTreeWidgetItem*>& items) const {
    QList<int> shownRows;
    for (QTreeWidgetItem* item : items) shownRows << indexOfTopLevelItem(item);
    QList<QUrl> urls = DragUrls(shownRows);
    if (urls.isEmpty()) return nullptr;  // no drag for a row without a finished file
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void TransferListView::OpenRow(QTreeWidgetItem*) {
    int row = FirstSelectedRow();
    if (row < 0) return;
    OpenWithDesktop(RowFilePath(row));
}

}  // namespace mirka
