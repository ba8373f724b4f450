#include "common/log_message.h"

#include <algorithm>

#include "toolkit/format.h"
#include "toolkit/little_endian.h"
#include "toolkit/memory_dump.h"

namespace mirka {

namespace {
constexpr WStringView kLogFace = u"ＭＳ Ｐゴシック";
constexpr std::int32_t kLogHeight = -200;
constexpr std::int32_t kHeadingIndent = 1;
constexpr std::int32_t kBodyIndent = 200;
}  // namespace

LogStyle HeadingStyle() {
    LogStyle style;
    style.face = kLogFace;
    style.height = kLogHeight;
    style.bold = true;
    style.indentTwips = kHeadingIndent;
    return style;
}

LogStyle DefaultBodyStyle() {
    LogStyle style;
    style.face = kLogFace;
    style.height = kLogHeight;
    style.indentTwips = kBodyIndent;
    return style;
}

namespace {

// The body takes the fields the record's mask names; the rest stay at the default.
LogStyle BodyStyle(const CharFormat& format) {
    LogStyle style = DefaultBodyStyle();
    if (format.mask & kCfmFace) style.face = format.Face();
    if (format.mask & kCfmSize) style.height = format.height;
    if ((format.mask & kCfmColor) && !(format.effects & kCfeAutoColor)) style.color = format.color;
    if (format.mask & kCfmBold) style.bold = (format.effects & kCfeBold) != 0;
    return style;
}

}  // namespace

std::vector<LogRun> BuildLogMessage(const CharFormat* style, WStringView text) {
    WStringView copy = text.substr(0, text.find(u'\0'));
    std::size_t lineEnd = copy.find(u"\r\n");
    if (lineEnd != WStringView::npos) {
        std::vector<LogRun> runs;
        runs.push_back({WString(copy.substr(0, lineEnd)) + u"\r\n", HeadingStyle()});
        WStringView body = copy.substr(lineEnd + 2);
        if (!body.empty()) {
            runs.push_back({WString(body), style ? BodyStyle(*style) : DefaultBodyStyle()});
        }
        return runs;
    }
    // The dump covers the first 256 bytes of the zero-filled copy; like the log control,
    // which takes it as a terminated string, it is shown up to its first zero character.
    Bytes bytes(MemoryDump::kDumpBytes, 0);
    Bytes encoded = EncodeUtf16Le(copy);
    std::copy_n(encoded.begin(), std::min(encoded.size(), bytes.size()), bytes.begin());
    MemoryDump dump;
    WString dumpText = dump.Dump(bytes.data());
    dumpText.resize(std::min(dumpText.size(), dumpText.find(u'\0')));
    WString error = Format(kFormatCapacity, u"Error: Null Pointer\r\nPROGRAM_SOURCE:%s LINE%d\r\n",
                           u".\\main", 118);
    return {LogRun{error, LogStyle{}}, LogRun{dumpText, LogStyle{}}};
}

void MarkOwnLine(std::vector<LogRun>& runs) {
    if (!runs.empty() && runs.front().style.bold) runs.front().style.color = kOwnHeadingColor;
}

}  // namespace mirka
