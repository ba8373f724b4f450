#include "upnp/pinhole.h"

#include <array>
#include <charconv>
#include <utility>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include "common/debug_log.h"
#include "upnp/gateway_urls.h"
#include "upnp/udp_manager.h"

namespace mirka {
namespace {

constexpr char kProtocolTcp[] = "6";  // an IP protocol number here, not a name
constexpr char kAnyRemoteHost[] = "";
constexpr char kAnyRemotePort[] = "0";

std::string ErrorText(int code) {
    const char* text = strupnperror(code);
    return text ? text : "unknown error";
}

std::optional<std::uint16_t> AddPinhole(const std::string& controlUrl, const std::string& address,
                                        std::uint16_t port, std::chrono::seconds lease) {
    const std::string portText = std::to_string(port);
    const std::string leaseText = std::to_string(lease.count());
    // The library copies at most 8 bytes of the answer's id; the rest is room to spare.
    std::array<char, 16> id{};
    int code = UPNP_AddPinhole(controlUrl.c_str(), kIPv6FirewallService, kAnyRemoteHost,
                               kAnyRemotePort, address.c_str(), portText.c_str(), kProtocolTcp,
                               leaseText.c_str(), id.data());
    if (code != UPNPCOMMAND_SUCCESS) {
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: AddPinhole for [%s]:%s failed: %d %s",
                      address, portText, code, ErrorText(code));
        return std::nullopt;
    }
    id.back() = '\0';
    std::optional<std::uint16_t> parsed = ParsePinholeId(id.data());
    if (!parsed) {
        WriteDebugLog(kUpnpLogModule, __LINE__,
                      "upnp: AddPinhole answered with an unusable id \"%s\"; no pinhole",
                      std::string(id.data()));
        return std::nullopt;
    }
    WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: pinhole %d open to [%s]:%s for %s s",
                  static_cast<int>(*parsed), address, portText, leaseText);
    return parsed;
}

}  // namespace

std::optional<std::uint16_t> ParsePinholeId(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::unique_ptr<Pinhole> Pinhole::Open(const std::string& descriptionUrl,
                                       const std::string& address, std::uint16_t port,
                                       PinholeOptions options) {
    if (descriptionUrl.empty() || address.empty()) return nullptr;
    GatewayUrls gateway;
    std::array<char, 64> lanAddress{};
    if (UPNP_GetIGDFromUrl(descriptionUrl.c_str(), &gateway.urls, &gateway.data, lanAddress.data(),
                           static_cast<int>(lanAddress.size())) == 0) {
        WriteDebugLog(kUpnpLogModule, __LINE__,
                      "upnp: could not read the description %s for an IPv6 pinhole",
                      descriptionUrl);
        return nullptr;
    }
    const char* control = gateway.urls.controlURL_6FC;
    if (gateway.data.IPv6FC.servicetype[0] == '\0' || !control || control[0] == '\0') {
        WriteDebugLog(kUpnpLogModule, __LINE__,
                      "upnp: the gateway offers no WANIPv6FirewallControl; no IPv6 pinhole");
        return nullptr;
    }
    std::optional<std::uint16_t> id = AddPinhole(control, address, port, options.lease);
    if (!id) return nullptr;
    return std::unique_ptr<Pinhole>(new Pinhole(control, address, port, options, *id));
}

Pinhole::Pinhole(std::string controlUrl, std::string address, std::uint16_t port,
                 PinholeOptions options, std::uint16_t id)
    : controlUrl(std::move(controlUrl)),
      address(std::move(address)),
      port(port),
      options(options),
      id(id) {
    renewer = std::thread([this] { RenewWhileOpen(); });
}

Pinhole::~Pinhole() {
    {
        std::lock_guard<std::mutex> guard(lock);
        closing = true;
    }
    wake.notify_all();
    renewer.join();
    const std::string idText = std::to_string(Id());
    int code = UPNP_DeletePinhole(controlUrl.c_str(), kIPv6FirewallService, idText.c_str());
    if (code == UPNPCOMMAND_SUCCESS)
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: pinhole %s deleted", idText);
    else
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: DeletePinhole %s failed: %d %s", idText,
                      code, ErrorText(code));
}

std::uint16_t Pinhole::Id() const {
    std::lock_guard<std::mutex> guard(lock);
    return id;
}

void Pinhole::RenewWhileOpen() {
    std::unique_lock<std::mutex> guard(lock);
    while (!wake.wait_for(guard, options.refreshEvery, [this] { return closing; })) {
        const std::string idText = std::to_string(id);
        guard.unlock();
        const std::string leaseText = std::to_string(options.lease.count());
        int code = UPNP_UpdatePinhole(controlUrl.c_str(), kIPv6FirewallService, idText.c_str(),
                                      leaseText.c_str());
        std::optional<std::uint16_t> renewed;
        if (code != UPNPCOMMAND_SUCCESS) {
            // A gateway that restarted has forgotten the pinhole: ask for a new one.
            WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: UpdatePinhole %s failed: %d %s", idText,
                          code, ErrorText(code));
            renewed = AddPinhole(controlUrl, address, port, options.lease);
        }
        guard.lock();
        if (renewed) id = *renewed;
    }
}

}  // namespace mirka
