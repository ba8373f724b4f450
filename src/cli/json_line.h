#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/text.h"

// One JSON object on one line, built key by key (keys in English, text in UTF-8), for the
// --json events.
namespace mirka::cli {

class JsonLine {
public:
    explicit JsonLine(std::string_view event);
    JsonLine& Add(std::string_view key, std::string_view text);
    JsonLine& Add(std::string_view key, WStringView text);
    JsonLine& Add(std::string_view key, const char* text) {
        return Add(key, std::string_view(text));
    }
    // Without it a UTF-16 literal would be taken as a pointer, and so as a boolean.
    JsonLine& Add(std::string_view key, const char16_t* text) {
        return Add(key, WStringView(text));
    }
    JsonLine& Add(std::string_view key, std::int64_t number);
    JsonLine& Add(std::string_view key, int number) { return Add(key, std::int64_t{number}); }
    JsonLine& Add(std::string_view key, double number);
    JsonLine& Add(std::string_view key, bool value);
    // The object with its closing brace and a line end.
    std::string Text() const { return text + "}\n"; }

    static std::string Quoted(std::string_view utf8);

private:
    void Key(std::string_view key);
    std::string text;
};

}  // namespace mirka::cli
