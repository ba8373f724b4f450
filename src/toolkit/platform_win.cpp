#include "toolkit/platform.h"

#include <winsock2.h>

#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <mmsystem.h>
#include <netioapi.h>
#include <cstring>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/address_v6.hpp>

// The Windows half of the platform calls.
namespace mirka {

// The system timer ticks every 15.6 ms unless a program asks for more.
void BeginMillisecondTimer() {
    ::timeBeginPeriod(1);
}
void EndMillisecondTimer() {
    ::timeEndPeriod(1);
}

void YieldToOtherThreads() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

void ShutdownSocketHandle(std::intptr_t handle) {
    if (handle < 0) return;
    ::shutdown(static_cast<SOCKET>(handle), SD_BOTH);
}

bool WaitUntilWritable(std::intptr_t handle, std::chrono::milliseconds timeout) {
    if (handle < 0) return false;
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(handle);
    entry.events = POLLWRNORM;
    return ::WSAPoll(&entry, 1, static_cast<int>(timeout.count())) > 0;
}

// Windows has no limit on the unsent part of the send queue, and the advertised window
// follows the receive buffer on its own: both stay the system's.
void LimitUnsentBytes(std::intptr_t, int) {}

// TCP_MAXRT (5 in the SDK; mingw-w64's headers lack it) counts whole seconds of
// retransmission before the connection fails.
constexpr int kTcpMaxRetransmitSeconds = 5;

void LimitUnacknowledgedTime(std::intptr_t handle, std::chrono::milliseconds limit) {
    DWORD seconds = static_cast<DWORD>((limit.count() + 999) / 1000);
    ::setsockopt(static_cast<SOCKET>(handle), IPPROTO_TCP, kTcpMaxRetransmitSeconds,
                 reinterpret_cast<const char*>(&seconds), sizeof seconds);
}
void ClampReceiveWindow(std::intptr_t, int) {}

namespace {

// The adapter list for one family; empty when the system will not give it.
std::vector<unsigned char> Adapters(ULONG family) {
    constexpr ULONG kFlags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buffer.resize(size);
        auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        ULONG result = ::GetAdaptersAddresses(family, kFlags, nullptr, list, &size);
        if (result == ERROR_SUCCESS) return buffer;
        if (result != ERROR_BUFFER_OVERFLOW) break;
    }
    return {};
}

// The interface of the IPv4 default route with the lowest metric (route and interface
// metric together, as the system ranks them); 0 when there is none. The interface's metric
// comes from the adapter list already read (its Ipv4Metric is what GetIpInterfaceEntry
// would tell), which also keeps the call off systems that lack that function (wine 8
// aborts the process on it).
NET_IFINDEX DefaultRouteInterface(const std::vector<unsigned char>& adapters) {
    MIB_IPFORWARD_TABLE2* table = nullptr;
    if (::GetIpForwardTable2(AF_INET, &table) != NO_ERROR) return 0;
    NET_IFINDEX best = 0;
    ULONG bestMetric = 0;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& row = table->Table[i];
        if (row.DestinationPrefix.PrefixLength != 0) continue;
        ULONG metric = row.Metric;
        for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(adapters.data());
             !adapters.empty() && adapter; adapter = adapter->Next) {
            if (adapter->IfIndex == row.InterfaceIndex) {
                metric += adapter->Ipv4Metric;
                break;
            }
        }
        if (best == 0 || metric < bestMetric) {
            best = row.InterfaceIndex;
            bestMetric = metric;
        }
    }
    ::FreeMibTable(table);
    return best;
}

}  // namespace

std::vector<std::string> InterfaceIPv4Addresses() {
    std::vector<unsigned char> buffer = Adapters(AF_INET);
    const NET_IFINDEX routed = DefaultRouteInterface(buffer);
    std::vector<std::string> first;
    std::vector<std::string> others;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
         !buffer.empty() && adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const SOCKADDR* raw = unicast->Address.lpSockaddr;
            if (!raw || raw->sa_family != AF_INET) continue;
            sockaddr_in address{};
            std::memcpy(&address, raw, sizeof address);
            boost::asio::ip::address_v4::bytes_type bytes{};
            std::memcpy(bytes.data(), &address.sin_addr, bytes.size());
            // 127.0.0.0/8 on an adapter that is not flagged as loopback is still loopback.
            if (bytes[0] == 127) continue;
            std::string text = boost::asio::ip::address_v4(bytes).to_string();
            (adapter->IfIndex == routed ? first : others).push_back(std::move(text));
        }
    }
    first.insert(first.end(), others.begin(), others.end());
    return first;
}

std::vector<InterfaceIPv6Address> InterfaceIPv6Addresses() {
    std::vector<unsigned char> buffer = Adapters(AF_INET6);
    std::vector<InterfaceIPv6Address> addresses;
    // Like Linux's list, loopback stays in: the callers choose among the addresses.
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
         !buffer.empty() && adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const SOCKADDR* raw = unicast->Address.lpSockaddr;
            if (!raw || raw->sa_family != AF_INET6) continue;
            sockaddr_in6 address{};
            std::memcpy(&address, raw, sizeof address);
            boost::asio::ip::address_v6::bytes_type bytes{};
            std::memcpy(bytes.data(), &address.sin6_addr, bytes.size());
            std::uint32_t flags = 0;
            if (unicast->SuffixOrigin == IpSuffixOriginRandom) flags |= kIPv6AddressTemporary;
            if (unicast->DadState == IpDadStateTentative) flags |= kIPv6AddressTentative;
            if (unicast->DadState == IpDadStateDuplicate) flags |= kIPv6AddressDadFailed;
            if (unicast->DadState == IpDadStateDeprecated) flags |= kIPv6AddressDeprecated;
            // A link-local address's zone on Windows is the interface's number.
            addresses.push_back({boost::asio::ip::address_v6(bytes).to_string(), flags,
                                 std::to_string(adapter->Ipv6IfIndex)});
        }
    }
    return addresses;
}

}  // namespace mirka
