#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reading a gateway's answer to the SSDP search: status line, description URL and search
// target. Pure text work; the discovery shows the boxes.
namespace mirka {

inline constexpr std::size_t kStatusLineBytes = 500;
// "Location:", a blank and "http://" are skipped without looking at them.
inline constexpr std::size_t kLocationSkip = 17;
inline constexpr std::size_t kGatewayHostChars = 100;
inline constexpr std::size_t kGatewayPortCapacity = 64;
inline constexpr std::size_t kSearchTargetChars = 400;
// The whole description URL, kept for the standard control procedure.
inline constexpr std::size_t kDescriptionUrlChars = 400;

struct GatewayLocation {
    std::string host;
    std::string port;  // decimal text, empty when the URL names none
    std::string searchTarget;
    // The location URL as the gateway sent it, path included; empty when it does not begin
    // with "http://" or does not fit.
    std::string descriptionUrl;
};

enum class SsdpAnswerStatus {
    kGateway,
    kBadHeader,  // the first word is not an HTTP version
    kBadStatus,  // the status is not 200
    kNoLocation,
    // "Location:" is there but its URL is cut short, names no host or too long a port, or
    // the answer has no "ST: " line: nothing usable to send requests to.
    kUnusableLocation,
};

struct SsdpAnswer {
    SsdpAnswerStatus status = SsdpAnswerStatus::kBadHeader;
    GatewayLocation gateway;
};

// The answer is taken as a narrow text, so it ends at its first zero byte.
SsdpAnswer EvaluateSsdpAnswer(std::string_view answer);

}  // namespace mirka
