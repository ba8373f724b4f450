#include "toolkit/platform.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

// The POSIX (Linux) half of the platform calls.
namespace mirka {

// Linux sleeps with sub-millisecond precision already.
void BeginMillisecondTimer() {}
void EndMillisecondTimer() {}

// Linux keeps a nice value per thread; a thread at 10 weighs a tenth of one at 0, so a woken
// thread of normal weight runs at once instead of after the hasher's time slice.
void YieldToOtherThreads() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
}

void ShutdownSocketHandle(std::intptr_t handle) {
    if (handle < 0) return;
    ::shutdown(static_cast<int>(handle), SHUT_RDWR);
}

bool WaitUntilWritable(std::intptr_t handle, std::chrono::milliseconds timeout) {
    if (handle < 0) return false;
    pollfd entry{};
    entry.fd = static_cast<int>(handle);
    entry.events = POLLOUT;
    // A signal's interruption comes back as not ready: the caller asks again.
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
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

}  // namespace mirka
