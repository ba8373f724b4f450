#include "toolkit/platform.h"

#include <chrono>
#include <sstream>

#include <boost/asio/ip/address_v6.hpp>

// What every system shares; the calls that differ are in platform_posix.cpp and
// platform_win.cpp.
namespace mirka {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

std::tm LocalTimeNow() {
    return LocalTime(std::time(nullptr));
}

std::uint32_t MillisecondTick() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

}  // namespace mirka

namespace mirka {

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::vector<InterfaceIPv6Address> ParseIfInet6Table(std::string_view table) {
    std::vector<InterfaceIPv6Address> addresses;
    std::istringstream lines{std::string(table)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string hex, index, prefix, scope, flags, name;
        fields >> hex >> index >> prefix >> scope >> flags >> name;
        if (hex.size() != 32 || name.empty() || flags.empty() || flags.size() > 8) continue;
        boost::asio::ip::address_v6::bytes_type bytes{};
        bool valid = true;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            int high = HexDigit(hex[i * 2]);
            int low = HexDigit(hex[i * 2 + 1]);
            valid = valid && high >= 0 && low >= 0;
            bytes[i] = static_cast<unsigned char>(valid ? high * 16 + low : 0);
        }
        std::uint32_t flagBits = 0;
        for (char c : flags) {
            valid = valid && HexDigit(c) >= 0;
            flagBits = flagBits * 16 + static_cast<std::uint32_t>(valid ? HexDigit(c) : 0);
        }
        if (!valid) continue;
        addresses.push_back({boost::asio::ip::address_v6(bytes).to_string(), flagBits, name});
    }
    return addresses;
}

}  // namespace mirka
