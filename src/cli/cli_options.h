#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a run of the terminal end was asked to do, read from its command line.
namespace mirka::cli {

struct CliOptions {
    enum class Role { Wait, Connect };
    Role role = Role::Wait;
    std::string host;  // connect: a name, a dotted IPv4 address or an IPv6 literal
    std::uint16_t port = 1225;
    std::vector<std::string> sendPaths;
    std::string receiveTo;  // empty: the current folder
    bool accept = false;
    std::string passphraseFile;
    bool askPassphrase = false;  // prompt on the terminal, without echo
    bool upnp = false;
    std::optional<std::string> name;
    std::optional<std::string> status;
    bool stay = false;
    bool json = false;
    int retrySeconds = 0;  // connect: how long a refused connect is tried again
    // The sender's pace (as /sendwait and /sendbufsize set it); none: the window's fastest.
    std::optional<int> sendWait;
    std::optional<int> sendBufSize;
    bool help = false;
    bool version = false;

    // The options after the program's name, over `defaults` (the config file's); an error
    // text instead when they make no sense.
    struct Parsed;
    static Parsed Parse(const std::vector<std::string>& args, CliOptions defaults);
    static Parsed Parse(const std::vector<std::string>& args);
};

struct CliOptions::Parsed {
    std::optional<CliOptions> options;
    std::string error;  // in Japanese, for the user
};

// The --help text: every option, one line each.
const char* UsageText();

}  // namespace mirka::cli
