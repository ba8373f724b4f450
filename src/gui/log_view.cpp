#include "gui/log_view.h"

#include <cstdlib>

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>

#include "app/link_detection.h"
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
    // The view follows new lines while it is scrolled to the end. Following is a state of
    // its own: a resize that rewraps the text moves the end without the user scrolling away.
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { following = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (following) bar->setValue(maximum);
    });
    document.SetListener(QueuedSync(this, &LogView::Sync));
    Sync();
}

LogView::~LogView() {
    document.SetListener(nullptr);
}

void LogView::Sync() {
    LogSlice slice = document.Since(shownRuns, seenClears);
    if (slice.restart) {
        clear();
        shownRuns = 0;
        seenClears = slice.clears;
    }
    if (slice.runs.empty()) return;
    bool follow = following;
    for (const LogRun& run : slice.runs) AppendRun(run);
    shownRuns += slice.runs.size();
    following = follow;
    if (following) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::AppendRun(const LogRun& run) {
    QTextCursor cursor(QTextEdit::document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    if (!run.style.face.empty())
        format.setFontFamilies({QString::fromStdU16String(run.style.face)});
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
    QString text = QString::fromStdU16String(run.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) cursor.insertBlock(block, format);
        const QString& line = lines[i];
        qsizetype done = 0;
        for (const LinkSpan& span : FindLinks(line.toStdU16String())) {
            auto start = static_cast<qsizetype>(span.start);
            cursor.insertText(line.mid(done, start - done), format);
            QTextCharFormat link = format;
            link.setAnchor(true);
            link.setAnchorHref(QString::fromStdU16String(span.target));
            link.setFontUnderline(true);
            cursor.insertText(line.mid(start, static_cast<qsizetype>(span.length)), link);
            done = start + static_cast<qsizetype>(span.length);
        }
        cursor.insertText(line.mid(done), format);
    }
}

}  // namespace mirka
