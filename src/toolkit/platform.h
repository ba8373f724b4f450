#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The few calls that differ between platforms live here.
namespace mirka {

std::tm LocalTime(std::time_t when);
std::tm LocalTimeNow();

// Milliseconds from an arbitrary start, wrapping at 32 bits like the system tick.
std::uint32_t MillisecondTick();

// Raise the system timer resolution to 1 ms (where the platform has such a setting) and
// restore it again.
void BeginMillisecondTimer();
void EndMillisecondTimer();

// The calling thread yields to the program's other threads when they wake: for work that
// can take every cycle for seconds (hashing GiB) while a chat line must still go at once.
void YieldToOtherThreads();

}  // namespace mirka

namespace mirka {

// Shuts a socket down in both directions by its native handle. Safe from any thread: it
// wakes a read or write that another thread is blocked in.
void ShutdownSocketHandle(std::intptr_t handle);

// Waits until a socket can take more bytes (an error or a hang-up counts, so that the next
// write tells of it) or the timeout passes; false when it passed.
bool WaitUntilWritable(std::intptr_t handle, std::chrono::milliseconds timeout);

// Keeps at most about `bytes` not yet sent in a TCP socket's send queue (where the system
// can): what is written after bulk data then waits behind little of it. Data in flight is
// not limited, so a long, fast path still fills.
void LimitUnsentBytes(std::intptr_t handle, int bytes);
// A TCP socket whose sent bytes stay unacknowledged this long fails (where the system can):
// a write to a peer that vanished ends instead of waiting for the system's own limit.
void LimitUnacknowledgedTime(std::intptr_t handle, std::chrono::milliseconds limit);
// The smallest round trip the system has seen on a TCP connection, in microseconds: the
// path's own delay, without the time bytes spent waiting in either side's queues. 0 when it
// has none (or cannot tell).
std::uint32_t PathRoundTripMicros(std::intptr_t handle);
// Caps the window a TCP socket advertises to its peer (where the system can).
void ClampReceiveWindow(std::intptr_t handle, int bytes);

}  // namespace mirka

namespace mirka {

// How a rename that never replaces anything ended: Exists when the new name is taken, Failed
// when the file could not be moved at all (it vanished, or its folder did).
enum class RenameOutcome { Done, Exists, Failed };

}  // namespace mirka

namespace mirka {

// Dotted IPv4 addresses of the interfaces that are up, loopback ones left out: those of the
// interface that carries the default route first, the others in the system's order. Empty
// where the platform offers no such list (the caller falls back on the host name).
std::vector<std::string> InterfaceIPv4Addresses();

}  // namespace mirka

namespace mirka {

// One IPv6 address of an interface that is up, with the system's flags about it.
struct InterfaceIPv6Address {
    std::string text;           // without a zone
    std::uint32_t flags = 0;    // kIPv6Address... below
    std::string interfaceName;  // the zone a link-local address needs
};

// The address flags, with Linux's values (IFA_F_*); other systems map theirs onto them.
inline constexpr std::uint32_t kIPv6AddressTemporary = 0x01;  // a privacy address
inline constexpr std::uint32_t kIPv6AddressDadFailed = 0x08;
inline constexpr std::uint32_t kIPv6AddressDeprecated = 0x20;  // preferred lifetime over
inline constexpr std::uint32_t kIPv6AddressTentative = 0x40;   // not yet usable

// The IPv6 addresses of the interfaces that are up, in the system's order; empty where the
// platform offers no such list.
std::vector<InterfaceIPv6Address> InterfaceIPv6Addresses();

// Reads the kernel's address table (/proc/net/if_inet6: address in 32 hex digits, interface
// index, prefix length, scope, flags, name); lines that do not fit are skipped. Exposed for
// tests.
std::vector<InterfaceIPv6Address> ParseIfInet6Table(std::string_view table);

}  // namespace mirka
