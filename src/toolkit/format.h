#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include "toolkit/text.h"

// printf-style formatting into a field of fixed capacity. The result never holds more than
// capacity - 1 units (the field's terminator takes the last); a longer text is cut at a
// character boundary. Conversions: d i u x X o c s S f F e E g G %, with flags, width,
// precision and '*'. Without a length modifier (or with 'l', as on the platform the formats
// were written for) integers are taken as 32 bits; "ll", "I64", 'j', 'z' and 't' take 64,
// 'h' 16 and "hh" 8. Both %s and %S accept wide and narrow strings.
namespace mirka {

class FormatArg {
public:
    using Value = std::variant<std::int64_t, std::uint64_t, double, WStringView, std::string_view>;

    FormatArg(bool v) : value(std::int64_t{v}) {}
    FormatArg(char v) : value(std::int64_t{static_cast<unsigned char>(v)}) {}
    FormatArg(char16_t v) : value(std::int64_t{v}) {}
    FormatArg(int v) : value(std::int64_t{v}) {}
    FormatArg(long v) : value(std::int64_t{v}) {}
    FormatArg(long long v) : value(std::int64_t{v}) {}
    FormatArg(short v) : value(std::int64_t{v}) {}
    FormatArg(unsigned short v) : value(std::uint64_t{v}) {}
    FormatArg(unsigned v) : value(std::uint64_t{v}) {}
    FormatArg(unsigned long v) : value(std::uint64_t{v}) {}
    FormatArg(unsigned long long v) : value(std::uint64_t{v}) {}
    FormatArg(double v) : value(v) {}
    FormatArg(const char16_t* v) : value(WStringView(v ? v : u"(null)")) {}
    FormatArg(WStringView v) : value(v) {}
    FormatArg(const WString& v) : value(WStringView(v)) {}
    FormatArg(const char* v) : value(std::string_view(v ? v : "(null)")) {}
    FormatArg(std::string_view v) : value(v) {}
    FormatArg(const std::string& v) : value(std::string_view(v)) {}

    Value value;
};

// The usual capacity of the program's formatting buffers (2,047 units and the terminator).
inline constexpr std::size_t kFormatCapacity = 2048;

WString FormatText(std::size_t capacity, WStringView format, std::initializer_list<FormatArg> args);

// Narrow format and result in the locale's code page; capacity counts bytes.
std::string FormatNarrowText(std::size_t capacity, std::string_view format,
                             std::initializer_list<FormatArg> args);

template <typename... Args>
WString Format(std::size_t capacity, WStringView format, const Args&... args) {
    return FormatText(capacity, format, {FormatArg(args)...});
}

template <typename... Args>
std::string FormatNarrow(std::size_t capacity, std::string_view format, const Args&... args) {
    return FormatNarrowText(capacity, format, {FormatArg(args)...});
}

}  // namespace mirka
