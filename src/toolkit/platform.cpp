#include "toolkit/platform.h"

#include <chrono>
#include <set>
#include <sstream>

#include <boost/asio/ip/address_v6.hpp>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#endif

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

// Linux sleeps with sub-millisecond precision already; Windows would call timeBeginPeriod.
void BeginMillisecondTimer() {}
void EndMillisecondTimer() {}

void ShutdownSocketHandle(std::intptr_t handle) {
    if (handle < 0) return;
#ifdef _WIN32
    ::shutdown(static_cast<SOCKET>(handle), SD_BOTH);
#else
    ::shutdown(static_cast<int>(handle), SHUT_RDWR);
#endif
}

WaitInterrupter::WaitInterrupter() {
#ifndef _WIN32
    if (::pipe(fds) != 0) {
        fds[0] = fds[1] = -1;
        return;
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
#endif
}

WaitInterrupter::~WaitInterrupter() {
#ifndef _WIN32
    for (int fd : fds)
        if (fd >= 0) ::close(fd);
#endif
}

void WaitInterrupter::Interrupt() {
#ifndef _WIN32
    char one = 1;
    // A full pipe interrupts already.
    [[maybe_unused]] auto written = ::write(fds[1], &one, 1);
#endif
}

void WaitInterrupter::Clear() {
#ifndef _WIN32
    char drained[64];
    while (::read(fds[0], drained, sizeof drained) > 0) {
    }
#endif
}

SocketWait WaitForSocket(std::intptr_t handle, SocketWait what,
                         std::optional<std::chrono::milliseconds> timeout,
                         const WaitInterrupter* interrupter) {
    if (handle < 0 || what == SocketWait::None) return SocketWait::None;
    bool read = what == SocketWait::Read || what == SocketWait::ReadOrWrite;
    bool write = what == SocketWait::Write || what == SocketWait::ReadOrWrite;
    int wait = timeout ? static_cast<int>(timeout->count()) : -1;
    bool watchInterrupter = interrupter && interrupter->Handle() >= 0;
    // Without a descriptor to watch, an interrupter is looked at by the caller every
    // millisecond.
    if (interrupter && !watchInterrupter && (wait < 0 || wait > 1)) wait = 1;
#ifdef _WIN32
    WSAPOLLFD entries[1]{};
    entries[0].fd = static_cast<SOCKET>(handle);
#else
    pollfd entries[2]{};
    entries[0].fd = static_cast<int>(handle);
    if (watchInterrupter) {
        entries[1].fd = static_cast<int>(interrupter->Handle());
        entries[1].events = POLLIN;
    }
#endif
    entries[0].events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
#ifdef _WIN32
    int result = ::WSAPoll(entries, 1, wait);
#else
    // A signal's interruption comes back as nothing ready: the caller asks again.
    int result = ::poll(entries, watchInterrupter ? 2 : 1, wait);
#endif
    if (result <= 0) return SocketWait::None;
    short ready = entries[0].revents;
    if (ready & (POLLERR | POLLHUP | POLLNVAL)) return what;
    bool canRead = read && (ready & POLLIN);
    bool canWrite = write && (ready & POLLOUT);
    if (canRead && canWrite) return SocketWait::ReadOrWrite;
    if (canRead) return SocketWait::Read;
    if (canWrite) return SocketWait::Write;
    return SocketWait::None;
}

void LimitUnsentBytes(std::intptr_t handle, int bytes) {
#ifdef TCP_NOTSENT_LOWAT
    ::setsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes);
#else
    (void)handle;
    (void)bytes;
#endif
}

void LimitUnacknowledgedTime(std::intptr_t handle, std::chrono::milliseconds limit) {
#ifdef TCP_USER_TIMEOUT
    unsigned int millis = static_cast<unsigned int>(limit.count());
    ::setsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_USER_TIMEOUT, &millis, sizeof millis);
#else
    (void)handle;
    (void)limit;
#endif
}

void ClampReceiveWindow(std::intptr_t handle, int bytes) {
#ifdef TCP_WINDOW_CLAMP
    ::setsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_WINDOW_CLAMP, &bytes, sizeof bytes);
#else
    (void)handle;
    (void)bytes;
#endif
}

}  // namespace mirka

namespace mirka {

#ifdef _WIN32
std::vector<std::string> InterfaceIPv4Addresses() {
    return {};  // the host name resolves to the LAN address there
}
#else
namespace {

// The interface of the default route with the lowest metric, from the kernel's IPv4 routing
// table; empty when there is no default route.
std::string DefaultRouteInterface() {
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line);  // the column names
    std::string best;
    unsigned long bestMetric = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        unsigned long destination = 0, gateway = 0, flags = 0, refs = 0, use = 0, metric = 0,
                      mask = 0;
        fields >> name >> std::hex >> destination >> gateway >> flags >> std::dec >> refs >> use >>
            metric >> std::hex >> mask;
        if (!fields || destination != 0 || mask != 0 || (flags & 0x1) == 0) continue;  // RTF_UP
        if (best.empty() || metric < bestMetric) {
            best = name;
            bestMetric = metric;
        }
    }
    return best;
}

}  // namespace

std::vector<std::string> InterfaceIPv4Addresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    const std::string routed = DefaultRouteInterface();
    std::vector<std::string> first;
    std::vector<std::string> others;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        // 127.0.0.0/8 on an interface that is not flagged as loopback is still loopback.
        if ((ntohl(address.sin_addr.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) continue;
        (entry->ifa_name && routed == entry->ifa_name ? first : others).emplace_back(text);
    }
    ::freeifaddrs(list);
    first.insert(first.end(), others.begin(), others.end());
    return first;
}
#endif

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

#ifdef _WIN32
std::vector<InterfaceIPv6Address> InterfaceIPv6Addresses() {
    return {};
}
#else
static_assert(kIPv6AddressTemporary == 0x01 && kIPv6AddressDadFailed == 0x08 &&
              kIPv6AddressDeprecated == 0x20 && kIPv6AddressTentative == 0x40);

std::vector<InterfaceIPv6Address> InterfaceIPv6Addresses() {
    // getifaddrs tells which interfaces are up but not the address flags; the kernel's
    // table tells the flags (a privacy address from a stable one) but lists down ones too.
    std::set<std::string> up;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_name && (entry->ifa_flags & IFF_UP) != 0) up.insert(entry->ifa_name);
    ::freeifaddrs(list);
    std::ifstream file("/proc/net/if_inet6");
    std::ostringstream table;
    table << file.rdbuf();
    std::vector<InterfaceIPv6Address> addresses;
    for (InterfaceIPv6Address& address : ParseIfInet6Table(table.str()))
        if (up.count(address.interfaceName) != 0) addresses.push_back(std::move(address));
    return addresses;
}
#endif

}  // namespace mirka
