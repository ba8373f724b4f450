#include "app/log_export.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "common/log_message.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

// Splits text at its line breaks. CR LF, a lone CR and a lone LF each end one line, as the
// log control reads them, also when a CR LF pair is split between two runs.
class LineSplitter {
public:
    template <typename OnText, typename OnBreak>
    void Split(WStringView text, OnText onText, OnBreak onBreak) {
        if (text.empty()) return;
        std::size_t start = (afterCr && text.front() == u'\n') ? 1 : 0;
        for (std::size_t i = start; i < text.size(); ++i) {
            char16_t c = text[i];
            if (c != u'\r' && c != u'\n') continue;
            if (i > start) onText(text.substr(start, i - start));
            onBreak();
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
        if (start < text.size()) onText(text.substr(start));
        afterCr = text.back() == u'\r';
    }

private:
    bool afterCr = false;
};

struct RtfPiece {
    WStringView text;
    const LogStyle* style;
};

struct RtfParagraph {
    std::vector<RtfPiece> pieces;
    std::int32_t indent = 0;
    bool ended = false;
};

// A paragraph takes the indent of the last run that touches it, as a paragraph format
// applied to a selection changes every paragraph the selection reaches; a run without an
// indent (0) leaves the paragraph as it is, and a new paragraph starts like the one before.
std::vector<RtfParagraph> SplitParagraphs(const std::vector<LogRun>& runs) {
    std::vector<RtfParagraph> paragraphs(1);
    LineSplitter splitter;
    for (const auto& run : runs) {
        if (run.style.indentTwips != 0) paragraphs.back().indent = run.style.indentTwips;
        splitter.Split(
            run.text,
            [&](WStringView piece) {
                paragraphs.back().pieces.push_back({piece, &run.style});
            },
            [&] {
                paragraphs.back().ended = true;
                std::int32_t indent = paragraphs.back().indent;
                paragraphs.emplace_back().indent = indent;
            });
    }
    return paragraphs;
}

void AppendUnicodeEscape(std::string& out, char16_t c) {
    // RTF parameters are signed 16-bit; '?' is the fallback for readers without \u.
    out += "\\u" + std::to_string(static_cast<std::int16_t>(c)) + "?";
}

void AppendRtfText(std::string& out, WStringView text) {
    for (char16_t c : text) {
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c < 0x20) {
            // Other control characters have no meaning in RTF text.
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            AppendUnicodeEscape(out, c);
        }
    }
}

// Face names come from the peer's style block: characters that would end the entry or the
// table are left out.
void AppendFontName(std::string& out, WStringView face) {
    for (char16_t c : face) {
        if (c < 0x20 || c == u';' || c == u'{' || c == u'}' || c == u'\\') continue;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            AppendUnicodeEscape(out, c);
        }
    }
}

bool IsAscii(WStringView text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

class RtfBuilder {
public:
    RtfBuilder() : defaultFace(HeadingStyle().face) { fonts.push_back(defaultFace); }

    std::string Build(const std::vector<LogRun>& runs) {
        std::string body;
        for (const auto& paragraph : SplitParagraphs(runs)) {
            if (paragraph.pieces.empty() && !paragraph.ended) continue;
            body += "\\pard\\li" + std::to_string(paragraph.indent);
            for (const auto& piece : paragraph.pieces) {
                body += '{';
                AppendCharacterFormat(body, *piece.style);
                body += ' ';
                AppendRtfText(body, piece.text);
                body += '}';
            }
            if (paragraph.ended) body += "\\par";
            body += "\r\n";
        }
        return Header() + body + "}\r\n";
    }

private:
    std::string Header() const {
        std::string out = "{\\rtf1\\ansi\\deff0\\uc1\r\n{\\fonttbl";
        for (std::size_t i = 0; i < fonts.size(); ++i) {
            out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset";
            out += IsAscii(fonts[i]) ? "0 " : "128 ";
            AppendFontName(out, fonts[i]);
            out += ";}";
        }
        out += "}\r\n{\\colortbl ;";
        for (std::uint32_t color : colors) {
            out += "\\red" + std::to_string(color & 0xFF) + "\\green" +
                   std::to_string((color >> 8) & 0xFF) + "\\blue" +
                   std::to_string((color >> 16) & 0xFF) + ";";
        }
        out += "}\r\n";
        return out;
    }

    void AppendCharacterFormat(std::string& out, const LogStyle& style) {
        out += "\\f" + std::to_string(FontIndex(style.face.empty() ? defaultFace : style.face));
        // Heights are twips, negative as stored; \fs counts half points.
        std::int64_t halfPoints = (std::abs(std::int64_t{style.height}) + 5) / 10;
        if (halfPoints > 0) {
            out += "\\fs" + std::to_string(std::min<std::int64_t>(halfPoints, kMaxHalfPoints));
        }
        if (style.color) out += "\\cf" + std::to_string(ColorIndex(*style.color));
        if (style.bold) out += "\\b";
    }

    std::size_t FontIndex(const WString& face) {
        auto found = std::find(fonts.begin(), fonts.end(), face);
        if (found != fonts.end()) return found - fonts.begin();
        fonts.push_back(face);
        return fonts.size() - 1;
    }

    // Index 0 of the colour table is the automatic colour.
    std::size_t ColorIndex(std::uint32_t color) {
        color &= 0xFFFFFF;
        auto found = std::find(colors.begin(), colors.end(), color);
        if (found != colors.end()) return found - colors.begin() + 1;
        colors.push_back(color);
        return colors.size();
    }

    // The largest size word processors accept (1,638 points).
    static constexpr std::int64_t kMaxHalfPoints = 3276;

    WString defaultFace;
    std::vector<WString> fonts;
    std::vector<std::uint32_t> colors;
};

bool EqualsIgnoringAsciiCase(WStringView a, WStringView b) {
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

std::string TempFileName() {
    static constexpr char kHex[] = "0123456789abcdef";
    std::random_device random;
    std::string name = ".mirka-log-";
    for (int i = 0; i < 4; ++i) {
        unsigned value = random();
        for (int digit = 0; digit < 8; ++digit, value >>= 4) name += kHex[value & 0xF];
    }
    return name + ".tmp";
}

// The whole contents go to a fresh file beside the target, which then takes the target's
// place in one rename.
bool ReplaceFile(WStringView path, const std::string& contents) {
    std::filesystem::path target = ToFsPath(path);
    if (target.filename().empty()) return false;
    std::error_code error;
    std::filesystem::path temp;
    do {
        temp = target.parent_path() / TempFileName();
    } while (std::filesystem::exists(temp, error));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(temp, error);
            return false;
        }
    }
    std::filesystem::rename(temp, target, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace

LogFileFormat LogFormatForPath(WStringView path) {
    return EqualsIgnoringAsciiCase(PathExtensionPart(path), u".txt") ? LogFileFormat::kPlainText
                                                                     : LogFileFormat::kRtf;
}

std::string LogToRtf(const std::vector<LogRun>& runs) {
    return RtfBuilder().Build(runs);
}

std::string LogToPlainText(const std::vector<LogRun>& runs) {
    WString text;
    LineSplitter splitter;
    for (const auto& run : runs) {
        splitter.Split(
            run.text, [&](WStringView piece) { text += piece; }, [&] { text += u"\r\n"; });
    }
    return "\xEF\xBB\xBF" + ToUtf8(text);
}

bool SaveLog(const LogDocument& log, WStringView path) {
    std::vector<LogRun> runs = log.Runs();
    std::string contents =
        LogFormatForPath(path) == LogFileFormat::kPlainText ? LogToPlainText(runs) : LogToRtf(runs);
    return ReplaceFile(path, contents);
}

}  // namespace mirka
