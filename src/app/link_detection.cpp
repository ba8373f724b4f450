#include "app/link_detection.h"

#include <array>

namespace mirka {
namespace {

constexpr std::array<WStringView, 13> kPrefixes = {
    u"http://",   u"https://",  u"ftp://",  u"file://",     u"mailto:",  u"news:", u"nntp://",
    u"telnet://", u"gopher://", u"wais://", u"prospero://", u"notes://", u"www.",
};

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool StartsWithNoCase(WStringView text, WStringView prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != prefix[i]) return false;
    return true;
}

bool IsWordChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'.' || c == u'-' || c == u'+';
}

// Where a link ends: blanks, line breaks, quotes, angle brackets and the ideographic
// space and brackets a Japanese sentence puts around it.
bool EndsLink(char16_t c) {
    return c <= u' ' || c == u'"' || c == u'<' || c == u'>' || c == u'\u3000' || c == u'\u300C' ||
           c == u'\u300D' || c == u'\u3001' || c == u'\u3002' || c == u'\uFF08' || c == u'\uFF09';
}

bool TrailingPunctuation(char16_t c) {
    return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?' ||
           c == u')' || c == u'\'';
}

}  // namespace

std::vector<LinkSpan> FindLinks(WStringView text) {
    std::vector<LinkSpan> links;
    std::size_t i = 0;
    while (i < text.size()) {
        WStringView prefix;
        if (i == 0 || !IsWordChar(text[i - 1])) {
            for (WStringView candidate : kPrefixes) {
                if (StartsWithNoCase(text.substr(i), candidate)) {
                    prefix = candidate;
                    break;
                }
            }
        }
        if (prefix.empty()) {
            ++i;
            continue;
        }
        std::size_t end = i + prefix.size();
        while (end < text.size() && !EndsLink(text[end])) ++end;
        while (end > i + prefix.size() && TrailingPunctuation(text[end - 1])) --end;
        if (end == i + prefix.size()) {  // a scheme with nothing behind it
            i = end;
            continue;
        }
        LinkSpan link{i, end - i, WString(text.substr(i, end - i))};
        if (prefix == u"www.") link.target = u"http://" + link.target;
        links.push_back(std::move(link));
        i = end;
    }
    return links;
}

}  // namespace mirka
