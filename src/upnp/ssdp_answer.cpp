#include "upnp/ssdp_answer.h"

#include <algorithm>

namespace mirka {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnds = "\r\n";

// The next word separated by blanks and tabs; empty when none is left.
std::string_view NextToken(std::string_view& text) {
    std::size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) {
        text = {};
        return {};
    }
    std::size_t end = text.find_first_of(kBlanks, begin);
    std::string_view token = text.substr(begin, end - begin);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end);
    return token;
}

bool StartsWithHttp(std::string_view token) {
    constexpr std::string_view kHttp = "HTTP";
    if (token.size() < kHttp.size()) return false;
    for (std::size_t i = 0; i < kHttp.size(); ++i) {
        char c = token[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kHttp[i]) return false;
    }
    return true;
}

std::string_view CutAtLineEnd(std::string_view text) {
    return text.substr(0, text.find_first_of(kLineEnds));
}

// The URL after "Location:" and its blanks, up to the line end.
std::string DescriptionUrl(std::string_view header) {
    std::size_t begin = header.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) return {};
    std::string_view url = header.substr(begin);
    std::size_t end = std::min(url.find_first_of(kLineEnds), url.size());
    if (end > kDescriptionUrlChars) return {};
    url = url.substr(0, end);
    url = url.substr(0, url.find_last_not_of(kBlanks) + 1);
    if (!url.starts_with("http://")) return {};
    return std::string(url);
}

}  // namespace

SsdpAnswer EvaluateSsdpAnswer(std::string_view answer) {
    answer = answer.substr(0, answer.find('\0'));
    SsdpAnswer result;

    std::string_view statusLine = answer.substr(0, kStatusLineBytes);
    if (!StartsWithHttp(NextToken(statusLine))) {
        result.status = SsdpAnswerStatus::kBadHeader;
        return result;
    }
    if (NextToken(statusLine) != "200") {
        result.status = SsdpAnswerStatus::kBadStatus;
        return result;
    }

    std::size_t location = answer.find("Location:");
    if (location == std::string_view::npos) {
        result.status = SsdpAnswerStatus::kNoLocation;
        return result;
    }
    result.status = SsdpAnswerStatus::kUnusableLocation;
    if (answer.size() - location <= kLocationSkip) return result;
    std::string_view url = CutAtLineEnd(answer.substr(location + kLocationSkip, kGatewayHostChars));
    url = url.substr(0, url.find('/'));
    std::size_t colon = url.find(':');
    std::string_view host = url.substr(0, colon);
    std::string_view port =
        colon == std::string_view::npos ? std::string_view() : url.substr(colon + 1);
    if (host.empty() || port.size() >= kGatewayPortCapacity) return result;

    std::size_t target = answer.find("ST: ");
    if (target == std::string_view::npos) return result;
    result.gateway.host = host;
    result.gateway.port = port;
    result.gateway.searchTarget = CutAtLineEnd(answer.substr(target + 4, kSearchTargetChars));
    result.gateway.descriptionUrl = DescriptionUrl(answer.substr(location + 9));
    result.status = SsdpAnswerStatus::kGateway;
    return result;
}

}  // namespace mirka
