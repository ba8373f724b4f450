#include "cli/cli_options.h"

#include <cstdlib>

namespace mirka::cli {

namespace {

// A port is a number from 1 to 65535; anything else is refused rather than cut.
bool ReadPort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// HOST, HOST:PORT, [V6]:PORT or a bare IPv6 literal (more than one colon, no brackets).
bool ReadTarget(const std::string& text, std::string& host, std::uint16_t& port) {
    if (text.empty()) return false;
    if (text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1) return false;
        host = text.substr(1, close - 1);
        std::string rest = text.substr(close + 1);
        if (rest.empty()) return true;
        return rest.front() == ':' && ReadPort(rest.substr(1), port);
    }
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        host = text;  // no port, or an IPv6 literal without brackets
        return true;
    }
    host = text.substr(0, colon);
    return !host.empty() && ReadPort(text.substr(colon + 1), port);
}

}  // namespace

CliOptions::Parsed CliOptions::Parse(const std::vector<std::string>& args) {
    return Parse(args, CliOptions());
}

CliOptions::Parsed CliOptions::Parse(const std::vector<std::string>& args, CliOptions defaults) {
    Parsed parsed;
    CliOptions options = std::move(defaults);
    auto fail = [&](std::string error) {
        parsed.error = std::move(error);
        return parsed;
    };
    std::size_t i = 0;
    if (i < args.size() && (args[i] == "--help" || args[i] == "-h")) {
        options.help = true;
        parsed.options = options;
        return parsed;
    }
    if (i < args.size() && args[i] == "--version") {
        options.version = true;
        parsed.options = options;
        return parsed;
    }
    if (i >= args.size()) return fail("wait か connect を指定してください");
    if (args[i] == "wait") {
        options.role = Role::Wait;
        options.retrySeconds = 0;  // a default for connect alone
    } else if (args[i] == "connect") {
        options.role = Role::Connect;
        if (++i >= args.size() || args[i].starts_with("-"))
            return fail("接続先 (HOST[:PORT]) を指定してください");
        if (!ReadTarget(args[i], options.host, options.port))
            return fail("接続先が正しくありません: " + args[i]);
    } else {
        return fail("wait か connect を指定してください: " + args[i]);
    }
    ++i;
    auto value = [&](const std::string& option, std::string& out) {
        if (i + 1 >= args.size()) return false;
        out = args[++i];
        (void)option;
        return true;
    };
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string text;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--port") {
            if (!value(arg, text) || !ReadPort(text, options.port))
                return fail("--port には 1 から 65535 の番号を指定してください");
        } else if (arg == "--send") {
            // Every argument up to the next option is a path to send.
            std::size_t before = options.sendPaths.size();
            while (i + 1 < args.size() && !args[i + 1].starts_with("--"))
                options.sendPaths.push_back(args[++i]);
            if (options.sendPaths.size() == before)
                return fail("--send には送るファイルかフォルダを指定してください");
        } else if (arg == "--receive-to") {
            if (!value(arg, options.receiveTo) || options.receiveTo.empty())
                return fail("--receive-to には受信フォルダを指定してください");
        } else if (arg == "--accept") {
            options.accept = true;
        } else if (arg == "--passphrase-file") {
            if (!value(arg, options.passphraseFile) || options.passphraseFile.empty())
                return fail("--passphrase-file には合言葉のファイルを指定してください");
        } else if (arg == "--ask-passphrase") {
            options.askPassphrase = true;
        } else if (arg == "--passphrase" || arg.starts_with("--passphrase=")) {
            // It would show in the process list.
            return fail(
                "合言葉はコマンドラインでは受け付けません (--passphrase-file、"
                "MIRKA_PASSPHRASE または --ask-passphrase を使ってください)");
        } else if (arg == "--upnp") {
            options.upnp = true;
        } else if (arg == "--name") {
            if (!value(arg, text)) return fail("--name には名前を指定してください");
            options.name = text;
        } else if (arg == "--status") {
            if (!value(arg, text)) return fail("--status にはステータスを指定してください");
            options.status = text;
        } else if (arg == "--stay") {
            options.stay = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--retry") {
            if (!value(arg, text) || text.empty() || text.size() > 6 ||
                text.find_first_not_of("0123456789") != std::string::npos)
                return fail("--retry には秒数を指定してください");
            options.retrySeconds = std::atoi(text.c_str());
        } else if (arg == "--send-wait" || arg == "--send-bufsize") {
            bool wait = arg == "--send-wait";
            if (!value(arg, text) || text.empty() || text.size() > 8 ||
                text.find_first_not_of("0123456789") != std::string::npos)
                return fail(arg + " には数を指定してください");
            int number = std::atoi(text.c_str());
            if (wait ? number > 65535 : number < 1) return fail(arg + " の値が範囲の外です");
            (wait ? options.sendWait : options.sendBufSize) = number;
        } else {
            return fail("知らないオプションです: " + arg);
        }
    }
    if (options.role == Role::Wait && options.retrySeconds > 0)
        return fail("--retry は connect でだけ使えます");
    parsed.options = options;
    return parsed;
}

const char* UsageText() {
    return "使い方: mirka-cli wait [--port N] [オプション...]\n"
           "        mirka-cli connect HOST[:PORT] [オプション...]\n"
           "\n"
           "  wait                   相手からの接続を待ちます (ポートは --port、既定 1225)\n"
           "                         (合言葉の通らない相手は断って待ち続けます)\n"
           "  connect HOST[:PORT]    相手に接続します (名前、IPv4、IPv6 [addr]:port)\n"
           "  --port N               待機するポート、または接続先のポート\n"
           "  --send PATH...         接続したらファイルやフォルダを送ります (複数可)\n"
           "  --receive-to DIR       受信フォルダ (既定: 現在のフォルダ)\n"
           "  --accept               ファイルの申し出を尋ねずに受け取ります\n"
           "                         (なければ端末で y/n を尋ね、端末でなければ断ります)\n"
           "  --passphrase-file F    合言葉をファイル F の最初の行から読みます\n"
           "  --ask-passphrase       合言葉を端末で尋ねます (表示しません)\n"
           "                         (環境変数 MIRKA_PASSPHRASE も使えます)\n"
           "  --upnp                 ルータにポートの転送を頼みます\n"
           "  --name NAME            相手に見える名前\n"
           "  --status TEXT          相手に見えるステータス\n"
           "  --stay                 送受信のあとも接続したまま、入力した行を発言します\n"
           "                         (入力の終わりで切断します)\n"
           "  --json                 出来事を 1 行に 1 つの JSON で標準出力に書きます\n"
           "  --retry SECONDS        connect: 相手が待機していなければその秒数まで再試行します\n"
           "  --send-wait MS         送信の 1 回ごとの待ち時間 (/sendwait と同じ)\n"
           "  --send-bufsize BYTES   送信の 1 回に送るバイト数 (/sendbufsize と同じ)\n"
           "  --help                 この説明を表示します\n"
           "  --version              版を表示します\n"
           "\n"
           "設定ファイル: $XDG_CONFIG_HOME/mirka/cli.conf (なければ ~/.config/mirka/cli.conf、\n"
           "  Windows では %APPDATA%\\mirka\\cli.conf)\n"
           "  「キー = 値」の行でオプションの既定を決めます (# で始まる行は注釈)。\n"
           "  キー: port, name, status, receive-to, accept, upnp, stay, json, retry,\n"
           "  passphrase-file, ask-passphrase, send-wait, send-bufsize (yes/no "
           "で指定するものも)。\n"
           "  コマンドラインのオプションが優先します。\n"
           "\n"
           "終了コード: 0 成功、1 その他のエラー、2 使い方の誤り、3 接続できなかった、\n"
           "  4 合言葉が通らなかった、5 相手が断った・キャンセルした、6 内容の検証に失敗、\n"
           "  7 転送の途中で接続が切れた、130 中断 (Ctrl-C)\n";
}

}  // namespace mirka::cli
