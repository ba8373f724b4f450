#include "upnp/own_address.h"

#include <boost/asio/ip/address.hpp>

namespace mirka {

namespace asio = boost::asio;

namespace {

bool IsReachableGlobally(const InterfaceIPv6Address& entry) {
    constexpr std::uint32_t kUnusable = kIPv6AddressTemporary | kIPv6AddressDeprecated |
                                        kIPv6AddressTentative | kIPv6AddressDadFailed;
    if ((entry.flags & kUnusable) != 0) return false;
    boost::system::error_code error;
    asio::ip::address_v6 address = asio::ip::make_address_v6(entry.text, error);
    if (error || address.is_loopback() || address.is_unspecified() || address.is_link_local() ||
        address.is_site_local() || address.is_multicast() || address.is_v4_mapped())
        return false;
    const bool uniqueLocal = (address.to_bytes()[0] & 0xFE) == 0xFC;
    return !uniqueLocal;
}

// Private (RFC 1918), shared (RFC 6598, the provider's NAT), link-local and loopback.
bool IsPublicIPv4(std::string_view text) {
    boost::system::error_code error;
    asio::ip::address_v4 address = asio::ip::make_address_v4(std::string(text), error);
    if (error) return false;
    const std::uint32_t value = address.to_uint();
    auto in = [value](std::uint32_t network, int bits) {
        return (value >> (32 - bits)) == (network >> (32 - bits));
    };
    return !(in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10) ||
             in(0xA9FE0000, 16) || in(0x7F000000, 8) || address.is_unspecified());
}

}  // namespace

std::string ChooseReachableIPv6(const std::vector<InterfaceIPv6Address>& addresses) {
    for (const InterfaceIPv6Address& entry : addresses)
        if (IsReachableGlobally(entry)) return entry.text;
    return {};
}

std::string ReachableIPv6Text() {
    return ChooseReachableIPv6(InterfaceIPv6Addresses());
}

bool IsIPv4Literal(std::string_view text) {
    boost::system::error_code error;
    asio::ip::make_address_v4(std::string(text), error);
    return !error;
}

std::string PreferIPv6OverHostName(const std::string& ownAddressText, const std::string& ipv6) {
    return ipv6.empty() || IsIPv4Literal(ownAddressText) ? ownAddressText : ipv6;
}

std::string AddressTitleText(const std::string& ownAddressText, const std::string& ipv6) {
    if (ipv6.empty() || ownAddressText == ipv6) return ownAddressText;
    return ownAddressText + " / " + ipv6;
}

std::string CopyAddressText(const std::string& ownAddressText, const std::string& ipv6) {
    if (IsPublicIPv4(ownAddressText) || ipv6.empty()) return ownAddressText;
    return ipv6;
}

}  // namespace mirka
