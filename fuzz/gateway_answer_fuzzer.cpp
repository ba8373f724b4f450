// Feeds arbitrary bytes to the reader of the gateway's SSDP answer, and builds both SOAP
// requests from what it took out of the answer.
//
// Checked besides what the sanitizers catch: the host, port and search target stay within
// their bounds and hold no line end or zero byte, so a hostile answer cannot add header
// lines to the requests sent back to the gateway.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "upnp/soap_requests.h"
#include "upnp/ssdp_answer.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

std::size_t CountLineEnds(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += c == '\n';
    return count;
}

void CheckField(std::string_view field, std::size_t limit, const char* what) {
    if (field.size() > limit) Fail(what);
    if (field.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) Fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view answer(reinterpret_cast<const char*>(data), size);
    mirka::SsdpAnswer result = mirka::EvaluateSsdpAnswer(answer);
    if (result.status != mirka::SsdpAnswerStatus::kGateway) return 0;
    const mirka::GatewayLocation& g = result.gateway;
    CheckField(g.host, mirka::kGatewayHostChars, "the gateway host");
    if (g.host.empty()) Fail("an empty gateway host");
    CheckField(g.port, mirka::kGatewayPortCapacity - 1, "the gateway port");
    CheckField(g.searchTarget, mirka::kSearchTargetChars, "the search target");

    for (auto variant : {mirka::ServiceVariant::WANIP, mirka::ServiceVariant::WANPPP}) {
        std::string plain = mirka::BuildGetExternalIPAddressRequest("st", "h", "1", variant);
        std::string built =
            mirka::BuildGetExternalIPAddressRequest(g.searchTarget, g.host, g.port, variant);
        if (CountLineEnds(built) != CountLineEnds(plain)) Fail("lines added to a request");
        plain = mirka::BuildAddPortMappingRequest("h", "1", "st", "10.0.0.1", 1225, "d", variant);
        built = mirka::BuildAddPortMappingRequest(g.host, g.port, g.searchTarget, "10.0.0.1", 1225,
                                                  "d", variant);
        if (CountLineEnds(built) != CountLineEnds(plain)) Fail("lines added to a request");
    }
    return 0;
}
