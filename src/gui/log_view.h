#pragma once

#include <cstdint>

#include <QTextBrowser>

#include "common/log_document.h"

namespace mirka {

// Shows the conversation log: renders the document's runs as they come (the document
// tells it from any thread; the rendering runs on the window thread), turns web addresses
// into links and opens them with the desktop's default application.
class LogView : public QTextBrowser {
public:
    LogView(LogDocument& document, QWidget* parent);
    ~LogView() override;

    // Renders what the document holds beyond what is shown.
    void Sync();

private:
    void AppendRun(const LogRun& run);

    LogDocument& document;
    std::size_t shownRuns = 0;
    std::uint64_t seenClears = 0;
    bool following = true;
};

// Twips to pixels on this screen.
int TwipsToPixels(int twips);

}  // namespace mirka
