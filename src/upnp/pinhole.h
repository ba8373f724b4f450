#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

// An inbound pinhole in the gateway's IPv6 firewall (the IGD v2 service
// WANIPv6FirewallControl), through libminiupnpc: a home router drops every connection from
// outside to an IPv6 address unless asked, and there is no NAT whose mapping would do it.
namespace mirka {

inline constexpr char kIPv6FirewallService[] =
    "urn:schemas-upnp-org:service:WANIPv6FirewallControl:1";

struct PinholeOptions {
    std::chrono::seconds lease = std::chrono::hours(1);
    // Well before the lease runs out, so one lost request does not close the pinhole.
    std::chrono::milliseconds refreshEvery = std::chrono::minutes(20);
};

// The gateway's name for a pinhole: a 16-bit number in decimal. Anything else is refused.
std::optional<std::uint16_t> ParsePinholeId(std::string_view text);

// One pinhole, open from Open until the object goes: a worker renews its lease meanwhile,
// and the destructor stops it and deletes the pinhole (blocking for the gateway's answer,
// within the library's socket time-outs).
class Pinhole {
public:
    // Reads the gateway's description and asks for a pinhole from any remote host to
    // `address` (IPv6, this machine) and `port` over TCP. Null, with a debug log entry, when
    // the gateway has no IPv6 firewall service, refuses, or answers with no usable id.
    static std::unique_ptr<Pinhole> Open(const std::string& descriptionUrl,
                                         const std::string& address, std::uint16_t port,
                                         PinholeOptions options = {});
    ~Pinhole();
    Pinhole(const Pinhole&) = delete;
    Pinhole& operator=(const Pinhole&) = delete;

    std::uint16_t Id() const;

private:
    Pinhole(std::string controlUrl, std::string address, std::uint16_t port, PinholeOptions options,
            std::uint16_t id);
    void RenewWhileOpen();

    const std::string controlUrl;
    const std::string address;
    const std::uint16_t port;
    const PinholeOptions options;

    mutable std::mutex lock;  // guards id and closing
    std::condition_variable wake;
    std::uint16_t id;
    bool closing = false;
    std::thread renewer;
};

}  // namespace mirka
