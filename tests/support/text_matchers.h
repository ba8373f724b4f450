#pragma once

#include <string>
#include <string_view>

#include <gmock/gmock.h>

// Matchers for UTF-16 text: a failure prints the whole text (see text_printer.h).
namespace mirka::test {

MATCHER_P(TextStartsWith, prefix,
          std::string(negation ? "doesn't start" : "starts") + " with " +
              testing::PrintToString(std::u16string_view(prefix))) {
    return std::u16string_view(arg).starts_with(prefix);
}

MATCHER_P(TextEndsWith, suffix,
          std::string(negation ? "doesn't end" : "ends") + " with " +
              testing::PrintToString(std::u16string_view(suffix))) {
    return std::u16string_view(arg).ends_with(suffix);
}

}  // namespace mirka::test
