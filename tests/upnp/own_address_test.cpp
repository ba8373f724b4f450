#include "upnp/own_address.h"

#include <gtest/gtest.h>

#include "toolkit/platform.h"

namespace mirka {
namespace {

// The kernel's table as /proc/net/if_inet6 gives it: a privacy address and a deprecated one
// come before the stable address a peer should get.
constexpr char kTable[] =
    "00000000000000000000000000000001 01 80 10 80       lo\n"
    "fe800000000000000000000000000001 02 40 20 80    wlan0\n"
    "fd000000000000000000000000000002 02 40 00 80    wlan0\n"
    "20010db8000000000000000000000a01 02 40 00 01    wlan0\n"
    "20010db8000000000000000000000a02 02 40 00 20    wlan0\n"
    "20010db8000000000000000000000a03 02 40 00 40    wlan0\n"
    "20010db8000000000000000000000a04 02 40 00 00    wlan0\n"
    "20010db8000000000000000000000a05 02 40 00 80    wlan0\n"
    "not an address line\n"
    "20010db80000000000000000000zzz06 02 40 00 80    wlan0\n";

TEST(OwnAddressTest, OnlyAStableGlobalIPv6AddressIsOffered) {
    std::vector<InterfaceIPv6Address> table = ParseIfInet6Table(kTable);
    ASSERT_EQ(table.size(), 8u);  // the two broken lines are skipped
    EXPECT_EQ(table[3].text, "2001:db8::a01");
    EXPECT_EQ(table[3].flags, kIPv6AddressTemporary);
    EXPECT_EQ(table[1].interfaceName, "wlan0");
    EXPECT_EQ(ChooseReachableIPv6(table), "2001:db8::a04");

    // Loopback, link-local and unique local addresses, and the unusable global ones: none.
    table.erase(table.begin() + 6, table.end());
    EXPECT_EQ(ChooseReachableIPv6(table), "");
}

TEST(OwnAddressTest, TitleAndClipboardTexts) {
    // IPv4 alone reads as before; a host name gives way to the IPv6 address.
    EXPECT_EQ(AddressTitleText("192.0.2.7", ""), "192.0.2.7");
    EXPECT_EQ(AddressTitleText("192.0.2.7", "2001:db8::5"), "192.0.2.7 / 2001:db8::5");
    EXPECT_EQ(PreferIPv6OverHostName("myhost", "2001:db8::5"), "2001:db8::5");
    EXPECT_EQ(PreferIPv6OverHostName("myhost", ""), "myhost");
    EXPECT_EQ(PreferIPv6OverHostName("192.0.2.7", "2001:db8::5"), "192.0.2.7");
    EXPECT_EQ(AddressTitleText("2001:db8::5", "2001:db8::5"), "2001:db8::5");

    // A public IPv4 address works for every peer; a private or shared one does not.
    EXPECT_EQ(CopyAddressText("203.0.113.7", "2001:db8::5"), "203.0.113.7");
    for (const char* inside : {"10.1.2.3", "172.20.0.1", "192.168.1.9", "100.64.0.1"})
        EXPECT_EQ(CopyAddressText(inside, "2001:db8::5"), "2001:db8::5") << inside;
    EXPECT_EQ(CopyAddressText("192.168.1.9", ""), "192.168.1.9");
    EXPECT_EQ(CopyAddressText("172.32.0.1", "2001:db8::5"), "172.32.0.1");  // past 172.16/12
}

}  // namespace
}  // namespace mirka
