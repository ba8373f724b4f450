#include "cli/json_line.h"

#include <cstdio>

namespace mirka::cli {

JsonLine::JsonLine(std::string_view event) : text("{\"event\":" + Quoted(event)) {}

void JsonLine::Key(std::string_view key) {
    text += ',';
    text += Quoted(key);
    text += ':';
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view value) {
    Key(key);
    text += Quoted(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, WStringView value) {
    return Add(key, std::string_view(ToUtf8(value)));
}

JsonLine& JsonLine::Add(std::string_view key, std::int64_t number) {
    Key(key);
    text += std::to_string(number);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, double number) {
    Key(key);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", number);
    text += buffer;
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, bool value) {
    Key(key);
    text += value ? "true" : "false";
    return *this;
}

std::string JsonLine::Quoted(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
                    out += buffer;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace mirka::cli
