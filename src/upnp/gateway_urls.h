#pragma once

#include <miniupnpc/miniupnpc.h>

// The URLs that libminiupnpc resolved from a gateway's description, freed on every way out.
namespace mirka {

class GatewayUrls {
public:
    GatewayUrls() = default;
    ~GatewayUrls() { FreeUPNPUrls(&urls); }
    GatewayUrls(const GatewayUrls&) = delete;
    GatewayUrls& operator=(const GatewayUrls&) = delete;

    UPNPUrls urls{};
    IGDdatas data{};
};

}  // namespace mirka
