#pragma once

// Failure messages show the program's UTF-16 text as UTF-8, quoted, with control characters
// escaped: u"x の発言\r\n" rather than gtest's own u"x \x306E\x767A\x8A00\r\n". The build puts
// this header in front of every test source (tests/CMakeLists.txt): gtest's printer for
// std::u16string is a plain overload in its own namespace, so an overload found by argument
// lookup would only make the call ambiguous, and the printer has to be the same in every
// source of a program.

#include <ostream>
#include <string>
#include <string_view>

#include <gtest/gtest-printers.h>

namespace mirka::test {
void PrintText(std::u16string_view text, std::ostream* os);
}  // namespace mirka::test

namespace testing::internal {

template <>
class UniversalPrinter<std::u16string> {
public:
    static void Print(const std::u16string& text, std::ostream* os) {
        mirka::test::PrintText(text, os);
    }
};

template <>
class UniversalPrinter<std::u16string_view> {
public:
    static void Print(std::u16string_view text, std::ostream* os) {
        mirka::test::PrintText(text, os);
    }
};

// A literal compared with a view prints as text too, not as its address.
template <>
class FormatForComparison<const char16_t*, std::u16string_view> {
public:
    static std::string Format(const char16_t* text) { return PrintToString(text); }
};
template <>
class FormatForComparison<char16_t*, std::u16string_view>
    : public FormatForComparison<const char16_t*, std::u16string_view> {};

}  // namespace testing::internal
