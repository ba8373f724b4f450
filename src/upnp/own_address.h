#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/platform.h"

// Which of this machine's addresses a peer can use, and how the login window shows them.
namespace mirka {

// The IPv6 address worth giving a peer: a global one that the system keeps (no privacy
// address, which changes within hours, nor one that is deprecated or not yet usable).
// Unique local (fc00::/7), link-local and loopback addresses never: a peer on the same site
// has the IPv4 LAN address as well, and one elsewhere can use none of them. Empty when none
// fits.
std::string ChooseReachableIPv6(const std::vector<InterfaceIPv6Address>& addresses);
// The same over this machine's interfaces.
std::string ReachableIPv6Text();

bool IsIPv4Literal(std::string_view text);

// The own-address text after the IPv6 address is known: where it holds the host name (no
// IPv4 address at all), the IPv6 address replaces it, since a peer can type that.
std::string PreferIPv6OverHostName(const std::string& ownAddressText, const std::string& ipv6);

// What the title shows behind "MY IP ADDR: ": the own-address text alone when there is no
// IPv6 address (as before), else both, "203.0.113.7 / 2001:db8::1".
std::string AddressTitleText(const std::string& ownAddressText, const std::string& ipv6);

// The one address that goes to the clipboard for the peer to type: an IPv4 address from the
// public range, else the IPv6 address (a private or shared IPv4 address is of no use to a
// peer elsewhere), else whatever the own-address text holds.
std::string CopyAddressText(const std::string& ownAddressText, const std::string& ipv6);

}  // namespace mirka
