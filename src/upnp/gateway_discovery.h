#pragma once

#include <chrono>
#include <string_view>

#include <boost/asio/ip/udp.hpp>

#include "upnp/login_status_port.h"
#include "upnp/ssdp_answer.h"
#include "upnp/udp_manager.h"

// Finding the Internet gateway: one SSDP search, the first answer, its description URL.
namespace mirka {

// The search datagram, 135 bytes; it ends with the ST line's CR LF and no empty line.
inline constexpr std::string_view kSearchDatagram =
    "M-SEARCH * HTTP/1.1\r\n"
    "MX: 3\r\n"
    "HOST: 239.255.255.250:1900\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n";

inline constexpr std::chrono::milliseconds kDiscoveryDeadline = std::chrono::seconds(45);

inline constexpr char16_t kBadHeaderBoxText[] =
    u"ヘッダが不正です\r\nUPnPが有効な機器かどうかを確認してください";
inline constexpr char16_t kRouterBoxText[] =
    u"UPnPに対応しているルータかどうか確認してください\r\n"
    u"それでも繋がらない場合ファイアウォールの設定も確認してください";

// Where the search goes and how long it waits for an answer.
struct GatewaySearchOptions {
    boost::asio::ip::udp::endpoint destination = SsdpMulticastEndpoint();
    std::chrono::milliseconds deadline = kDiscoveryDeadline;
};

enum class DiscoveryOutcome {
    kFound,
    kSocketUnusable,  // open, bind or send failed
    kNoAnswer,        // the deadline closed the socket, or the receive failed
    kAnswerRejected,  // not HTTP or not 200; its box has been shown
    kNoLocation,
    kUnusableLocation,
};

struct DiscoveryResult {
    DiscoveryOutcome outcome = DiscoveryOutcome::kSocketUnusable;
    GatewayLocation gateway;
};

// Sends the search, waits for the first answer (blocking, at most the deadline) and reads
// it. Sets the status text "ルーターの情報を取得しています" once the socket is ready.
DiscoveryResult DiscoverGateway(const GatewaySearchOptions& options, LoginStatusPort* statusLine);

}  // namespace mirka
