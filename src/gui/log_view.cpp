#include "gui/log_view.h"

#include <cstdlib>
#include <regex>

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>

#include "gui/desktop.h"
#include "gui/queued_sync.h"

namespace mirka {

int TwipsToPixels(int twips) {
    QScreen* screen = QGuiApplication::primaryScreen();
    double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return static_cast<int>(twips / 1440.0 * dpi + 0.5);
}

LogView::LogView(LogDocument& document, QWidget* parent)
    : QTextBrowser(parent), document(document) {
    setOpenLinks(false);
    setReadOnly(true);
    connect(this, &QTextBrowser::anchorClicked, this,
            [](const QUrl& url) { OpenWithDesktop(url.toString()); });
    // Called on whatever thread appended; the view catches up on its own thread.
    document.SetListener(QueuedSync(this, &LogView::Sync));
    Sync();
}

LogView::~LogView() { document.SetListener(nullptr); }

void LogView::Sync() {
    LogSlice slice = document.Since(shownRuns, seenClears);
    if (slice.restart) {
        clear();
        shownRuns = 0;
        seenClears = slice.clears;
    }
    if (slice.runs.empty()) return;
    bool atBottom = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    for (const LogRun& run : slice.runs) AppendRun(run);
    shownRuns += slice.runs.size();
    if (atBottom) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::AppendRun(const LogRun& run) {
    QTextCursor cursor(QTextEdit::document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    if (!run.style.face.empty()) format.setFontFamilies({QString::fromStdU16String(run.style.face)});
    double points = std::abs(run.style.height) / 20.0;
    if (points > 0) format.setFontPointSize(std::min(points, 200.0));
    format.setFontWeight(run.style.bold ? QFont::Bold : QFont::Normal);
    if (run.style.color) {
        std::uint32_t c = *run.style.color;
        format.setForeground(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    } else {
        format.setForeground(palette().text());
    }
    QTextBlockFormat block = cursor.blockFormat();
    if (run.style.indentTwips != 0) block.setLeftMargin(TwipsToPixels(run.style.indentTwips));
    cursor.setBlockFormat(block);

    // Line breaks become paragraphs; web addresses become links.
    static const std::wregex url(LR"((https?|ftp)://[^\s<>"]+)");
    QString text = QString::fromStdU16String(run.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) cursor.insertBlock(block, format);
        std::wstring line = lines[i].toStdWString();
        std::size_t done = 0;
        for (std::wsregex_iterator it(line.begin(), line.end(), url), end; it != end; ++it) {
            auto position = static_cast<std::size_t>(it->position());
            cursor.insertText(QString::fromStdWString(line.substr(done, position - done)), format);
            QTextCharFormat link = format;
            QString address = QString::fromStdWString(it->str());
            link.setAnchor(true);
            link.setAnchorHref(address);
            link.setFontUnderline(true);
            cursor.insertText(address, link);
            done = position + static_cast<std::size_t>(it->length());
        }
        cursor.insertText(QString::fromStdWString(line.substr(done)), format);
    }
}

}  // namespace mirka
