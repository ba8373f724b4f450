#pragma once

#include <map>
#include <optional>
#include <string>

// Reads one flat JSON object (string, number and boolean values, as mirka-cli writes its
// events) into its keys and values; values keep their text, strings unescaped. Nothing when
// the line is not such an object.
namespace mirka::test {

using JsonObject = std::map<std::string, std::string>;

inline std::optional<JsonObject> ReadJsonObject(const std::string& line) {
    JsonObject object;
    std::size_t i = 0;
    auto skip = [&] {
        while (i < line.size() && line[i] == ' ') ++i;
    };
    auto string = [&]() -> std::optional<std::string> {
        if (i >= line.size() || line[i] != '"') return std::nullopt;
        std::string text;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] != '\\') {
                text += line[i];
                continue;
            }
            if (++i >= line.size()) return std::nullopt;
            switch (line[i]) {
                case 'n':
                    text += '\n';
                    break;
                case 'r':
                    text += '\r';
                    break;
                case 't':
                    text += '\t';
                    break;
                case 'u':
                    if (i + 4 >= line.size()) return std::nullopt;
                    text += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
                    i += 4;
                    break;
                default:
                    text += line[i];
            }
        }
        if (i >= line.size()) return std::nullopt;
        ++i;
        return text;
    };
    skip();
    if (i >= line.size() || line[i++] != '{') return std::nullopt;
    for (;;) {
        skip();
        auto key = string();
        if (!key) return std::nullopt;
        skip();
        if (i >= line.size() || line[i++] != ':') return std::nullopt;
        skip();
        std::optional<std::string> value;
        if (i < line.size() && line[i] == '"') {
            value = string();
        } else {
            std::size_t end = line.find_first_of(",}", i);
            if (end == std::string::npos) return std::nullopt;
            value = line.substr(i, end - i);
            if (*value != "true" && *value != "false" &&
                value->find_first_not_of("-0123456789.") != std::string::npos)
                return std::nullopt;
            i = end;
        }
        if (!value) return std::nullopt;
        object[*key] = *value;
        skip();
        if (i < line.size() && line[i] == ',') {
            ++i;
            continue;
        }
        if (i < line.size() && line[i] == '}' && i + 1 == line.size()) return object;
        return std::nullopt;
    }
}

}  // namespace mirka::test
