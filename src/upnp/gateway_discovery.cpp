#include "upnp/gateway_discovery.h"

#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "common/debug_log.h"
#include "toolkit/message_box.h"

namespace mirka {
namespace {

// The socket, its context and the deadline live only inside this call; their log entries
// ("close: udp manager {destructor}" ...) follow the answer's.
std::optional<std::string> SearchOnce(const GatewaySearchOptions& options,
                                      LoginStatusPort* statusLine, DiscoveryOutcome& failure) {
    boost::asio::io_context context;
    udp_manager manager(context, options.destination);
    boost::asio::steady_timer deadline(context);
    deadline.expires_after(options.deadline);
    deadline.async_wait([&manager](const boost::system::error_code& error) {
        if (error) return;
        manager.close();
        WriteDebugLog(kUpnpLogModule, __LINE__, "udp manager: time out .. 45 seconds");
    });

    if (!manager.connect()) {
        deadline.cancel();
        failure = DiscoveryOutcome::kSocketUnusable;
        return std::nullopt;
    }
    ShowLoginStatus(statusLine, u"ルーターの情報を取得しています");
    if (manager.send(std::string(kSearchDatagram)) == 0) {
        deadline.cancel();
        failure = DiscoveryOutcome::kSocketUnusable;
        return std::nullopt;
    }
    std::optional<std::string> answer = manager.receive();
    if (answer) {
        WriteDebugLog(kUpnpLogModule, __LINE__, "network message");
        DebugLog::Instance().Write(kUpnpLogModule, __LINE__, *answer);
    }
    deadline.cancel();
    failure = DiscoveryOutcome::kNoAnswer;
    return answer;
}

}  // namespace

DiscoveryResult DiscoverGateway(const GatewaySearchOptions& options, LoginStatusPort* statusLine) {
    DiscoveryResult result;
    std::optional<std::string> answer = SearchOnce(options, statusLine, result.outcome);
    // Once the deadline has closed the socket there is nothing to read: end without a box.
    if (!answer) return result;

    SsdpAnswer evaluated = EvaluateSsdpAnswer(*answer);
    switch (evaluated.status) {
        case SsdpAnswerStatus::kGateway:
            result.outcome = DiscoveryOutcome::kFound;
            result.gateway = std::move(evaluated.gateway);
            break;
        case SsdpAnswerStatus::kBadHeader:
            ShowTypedMessage(kMbIconError, kErrorCaption, u"%s", kBadHeaderBoxText);
            result.outcome = DiscoveryOutcome::kAnswerRejected;
            break;
        case SsdpAnswerStatus::kBadStatus:
            ShowTypedMessage(kMbIconError, kErrorCaption, u"%s", kRouterBoxText);
            result.outcome = DiscoveryOutcome::kAnswerRejected;
            break;
        case SsdpAnswerStatus::kNoLocation:
            result.outcome = DiscoveryOutcome::kNoLocation;
            break;
        case SsdpAnswerStatus::kUnusableLocation:
            WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: no usable location in the answer");
            result.outcome = DiscoveryOutcome::kUnusableLocation;
            break;
    }
    return result;
}

}  // namespace mirka
