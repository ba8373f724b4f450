#include "cli/cli_config.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "cli/terminal.h"

namespace mirka::cli {

namespace {

std::string Trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<bool> ReadSwitch(const std::string& text) {
    for (const char* yes : {"yes", "true", "on", "1"})
        if (text == yes) return true;
    for (const char* no : {"no", "false", "off", "0"})
        if (text == no) return false;
    return std::nullopt;
}

std::optional<int> ReadNumber(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    int number = std::atoi(text.c_str());
    if (number < low || number > high) return std::nullopt;
    return number;
}

// One key's value into the defaults; the error text without the line's number.
std::optional<std::string> Apply(const std::string& key, const std::string& value,
                                 CliOptions& defaults) {
    auto flag = [&](bool& out) -> std::optional<std::string> {
        std::optional<bool> on = ReadSwitch(value);
        if (!on) return key + " には yes か no を指定してください";
        out = *on;
        return std::nullopt;
    };
    auto number = [&](int low, int high, auto store) -> std::optional<std::string> {
        std::optional<int> read = ReadNumber(value, low, high);
        if (!read)
            return key + " には " + std::to_string(low) + " から " + std::to_string(high) +
                   " の数を指定してください";
        store(*read);
        return std::nullopt;
    };
    auto text = [&](auto store) -> std::optional<std::string> {
        if (value.empty()) return key + " の値がありません";
        store(value);
        return std::nullopt;
    };
    if (key == "port")
        return number(1, 65535, [&](int n) { defaults.port = static_cast<std::uint16_t>(n); });
    if (key == "name") return text([&](const std::string& v) { defaults.name = v; });
    if (key == "status") return text([&](const std::string& v) { defaults.status = v; });
    if (key == "receive-to") return text([&](const std::string& v) { defaults.receiveTo = v; });
    if (key == "passphrase-file")
        return text([&](const std::string& v) { defaults.passphraseFile = v; });
    if (key == "accept") return flag(defaults.accept);
    if (key == "upnp") return flag(defaults.upnp);
    if (key == "stay") return flag(defaults.stay);
    if (key == "json") return flag(defaults.json);
    if (key == "ask-passphrase") return flag(defaults.askPassphrase);
    if (key == "retry") return number(0, 999999, [&](int n) { defaults.retrySeconds = n; });
    if (key == "send-wait") return number(0, 65535, [&](int n) { defaults.sendWait = n; });
    if (key == "send-bufsize") return number(1, 99999999, [&](int n) { defaults.sendBufSize = n; });
    if (key == "passphrase")
        return std::string("合言葉は設定ファイルには書けません (passphrase-file を使ってください)");
    return "知らない設定です: " + key;
}

}  // namespace

std::string CliConfigPath() {
    auto absolute = [](const std::optional<std::string>& folder) {
        return folder && !folder->empty() && Terminal::PathOf(*folder).is_absolute();
    };
    if (auto xdg = Terminal::Variable("XDG_CONFIG_HOME"); absolute(xdg))
        return *xdg + "/mirka/cli.conf";
#ifdef _WIN32
    // Where Windows programs keep a user's settings; the window's own go there too.
    if (auto appData = Terminal::Variable("APPDATA"); absolute(appData))
        return *appData + "\\mirka\\cli.conf";
#endif
    if (auto home = Terminal::Variable("HOME"); home && !home->empty())
        return *home + "/.config/mirka/cli.conf";
    return std::string();
}

std::optional<std::string> ReadCliConfig(std::istream& in, CliOptions& defaults) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string content = Trim(line);
        if (content.empty() || content.front() == '#') continue;
        std::size_t equals = content.find('=');
        std::optional<std::string> error;
        if (equals == std::string::npos)
            error = "「キー = 値」の形ではありません";
        else if (std::string key = Trim(content.substr(0, equals)); key.empty())
            error = "キーがありません";
        else
            error = Apply(key, Trim(content.substr(equals + 1)), defaults);
        if (error) return std::to_string(number) + " 行目: " + *error;
    }
    return std::nullopt;
}

std::optional<std::string> LoadCliConfig(const std::string& path, CliOptions& defaults) {
    std::error_code error;
    std::filesystem::path file = Terminal::PathOf(path);
    if (path.empty() || !std::filesystem::exists(file, error)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in || std::filesystem::is_directory(file, error))
        return "設定ファイルを読めません: " + path;
    if (std::optional<std::string> bad = ReadCliConfig(in, defaults))
        return "設定ファイル " + path + " の " + *bad;
    return std::nullopt;
}

}  // namespace mirka::cli
