#include "toolkit/format.h"

#include <cstdio>
#include <vector>

namespace mirka {
namespace {

struct Directive {
    std::string flags;
    int width = -1;
    int precision = -1;
    int bits = 32;
    char16_t conversion = 0;
};

class ArgReader {
public:
    explicit ArgReader(std::initializer_list<FormatArg> args) : args(args) {}

    const FormatArg::Value* Next() {
        return index < args.size() ? &args.begin()[index++].value : nullptr;
    }

    std::int64_t NextInt() {
        const FormatArg::Value* v = Next();
        if (!v) return 0;
        if (auto* i = std::get_if<std::int64_t>(v)) return *i;
        if (auto* u = std::get_if<std::uint64_t>(v)) return static_cast<std::int64_t>(*u);
        if (auto* d = std::get_if<double>(v)) return static_cast<std::int64_t>(*d);
        return 0;
    }

    double NextDouble() {
        const FormatArg::Value* v = Next();
        if (!v) return 0.0;
        if (auto* d = std::get_if<double>(v)) return *d;
        if (auto* i = std::get_if<std::int64_t>(v)) return static_cast<double>(*i);
        if (auto* u = std::get_if<std::uint64_t>(v)) return static_cast<double>(*u);
        return 0.0;
    }

    WString NextString() {
        const FormatArg::Value* v = Next();
        if (!v) return WString();
        if (auto* w = std::get_if<WStringView>(v)) return WString(w->substr(0, w->find(u'\0')));
        if (auto* n = std::get_if<std::string_view>(v))
            return FromNarrow(n->substr(0, n->find('\0')));
        return WString();
    }

private:
    std::initializer_list<FormatArg> args;
    std::size_t index = 0;
};

void AppendAscii(WString& out, const char* text) {
    for (; *text; ++text) out.push_back(static_cast<unsigned char>(*text));
}

void Pad(WString& out, const WString& body, const Directive& directive) {
    bool left = directive.flags.find('-') != std::string::npos;
    std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
    std::size_t fill = body.size() < width ? width - body.size() : 0;
    if (!left) out.append(fill, u' ');
    out += body;
    if (left) out.append(fill, u' ');
}

std::int64_t NarrowInteger(std::int64_t value, int bits, bool isSigned) {
    if (bits >= 64) return value;
    std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    std::uint64_t low = static_cast<std::uint64_t>(value) & mask;
    if (isSigned && (low >> (bits - 1))) return static_cast<std::int64_t>(low | ~mask);
    return static_cast<std::int64_t>(low);
}

void FormatNumber(WString& out, const Directive& directive, ArgReader& args) {
    // Build a plain C format for one 64-bit or double value and let snprintf do the digits.
    std::string cFormat = "%" + directive.flags;
    if (directive.width >= 0) cFormat += std::to_string(directive.width);
    if (directive.precision >= 0) cFormat += "." + std::to_string(directive.precision);
    char buffer[512];
    char c = static_cast<char>(directive.conversion);
    switch (c) {
        case 'd':
        case 'i': {
            long long value = NarrowInteger(args.NextInt(), directive.bits, true);
            std::snprintf(buffer, sizeof buffer, (cFormat + "lld").c_str(), value);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            auto value = static_cast<unsigned long long>(
                NarrowInteger(args.NextInt(), directive.bits, false));
            std::snprintf(buffer, sizeof buffer, (cFormat + "ll" + c).c_str(), value);
            break;
        }
        default: {
            double value = args.NextDouble();
            std::snprintf(buffer, sizeof buffer, (cFormat + c).c_str(), value);
            break;
        }
    }
    AppendAscii(out, buffer);
}

// Reads "%[flags][width][.precision][length]conversion" starting after the '%'.
std::size_t ParseSpec(WStringView format, std::size_t i, Directive& directive, ArgReader& args) {
    while (i < format.size() && WStringView(u"-+ #0").find(format[i]) != WStringView::npos)
        directive.flags.push_back(static_cast<char>(format[i++]));
    if (i < format.size() && format[i] == u'*') {
        directive.width = static_cast<int>(NarrowInteger(args.NextInt(), 32, true));
        if (directive.width < 0) {
            directive.flags.push_back('-');
            directive.width = -directive.width;
        }
        ++i;
    } else {
        while (i < format.size() && format[i] >= u'0' && format[i] <= u'9')
            directive.width =
                (directive.width < 0 ? 0 : directive.width) * 10 + (format[i++] - u'0');
    }
    if (i < format.size() && format[i] == u'.') {
        ++i;
        directive.precision = 0;
        if (i < format.size() && format[i] == u'*') {
            directive.precision = static_cast<int>(NarrowInteger(args.NextInt(), 32, true));
            if (directive.precision < 0) directive.precision = -1;
            ++i;
        } else {
            while (i < format.size() && format[i] >= u'0' && format[i] <= u'9')
                directive.precision = directive.precision * 10 + (format[i++] - u'0');
        }
    }
    // Keep widths sane: a hostile or mistaken format cannot ask for megabytes of padding.
    if (directive.width > 4096) directive.width = 4096;
    while (i < format.size()) {
        WStringView rest = format.substr(i);
        if (rest.starts_with(u"I64") || rest.starts_with(u"ll")) {
            directive.bits = 64;
            i += rest.starts_with(u"I64") ? 3 : 2;
        } else if (rest.starts_with(u"hh")) {
            directive.bits = 8;
            i += 2;
        } else if (rest[0] == u'h') {
            directive.bits = 16;
            ++i;
        } else if (rest[0] == u'j' || rest[0] == u'z' || rest[0] == u't') {
            directive.bits = 64;
            ++i;
        } else if (rest[0] == u'l' || rest[0] == u'L' || rest[0] == u'w') {
            ++i;
        } else {
            break;
        }
    }
    if (i < format.size()) directive.conversion = format[i++];
    return i;
}

}  // namespace

WString FormatText(std::size_t capacity, WStringView format,
                   std::initializer_list<FormatArg> args) {
    WString out;
    ArgReader reader(args);
    std::size_t limit = capacity == 0 ? 0 : capacity - 1;
    std::size_t i = 0;
    while (i < format.size() && out.size() <= limit) {
        char16_t c = format[i++];
        if (c != u'%') {
            out.push_back(c);
            continue;
        }
        Directive directive;
        i = ParseSpec(format, i, directive, reader);
        switch (directive.conversion) {
            case u'%':
                out.push_back(u'%');
                break;
            case u'c':
            case u'C': {
                WString body(1, static_cast<char16_t>(reader.NextInt()));
                Pad(out, body, directive);
                break;
            }
            case u's':
            case u'S': {
                WString body = reader.NextString();
                if (directive.precision >= 0)
                    CutUnits(body, static_cast<std::size_t>(directive.precision));
                Pad(out, body, directive);
                break;
            }
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'o':
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
                FormatNumber(out, directive, reader);
                break;
            default:
                // An unknown conversion is written as it stands.
                out.push_back(u'%');
                if (directive.conversion) out.push_back(directive.conversion);
                break;
        }
    }
    CutUnits(out, limit);
    return out;
}

std::string FormatNarrowText(std::size_t capacity, std::string_view format,
                             std::initializer_list<FormatArg> args) {
    std::string out = ToNarrow(FormatText(capacity * 2 + 2, FromNarrow(format), args));
    CutNarrow(out, capacity == 0 ? 0 : capacity - 1);
    return out;
}

}  // namespace mirka
