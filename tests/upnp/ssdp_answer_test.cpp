#include "upnp/ssdp_answer.h"

#include <gtest/gtest.h>

namespace mirka {
namespace {

constexpr std::string_view kTarget = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";

std::string Answer(std::string_view statusLine, std::string_view location) {
    std::string answer(statusLine);
    answer += "\r\nCACHE-CONTROL: max-age=120\r\n";
    answer += location;
    answer += "\r\nST: ";
    answer += kTarget;
    answer += "\r\nUSN: uuid:1\r\n\r\n";
    return answer;
}

TEST(SsdpAnswerTest, GatewayHostPortAndSearchTarget) {
    SsdpAnswer answer = EvaluateSsdpAnswer(
        Answer("HTTP/1.1 200 OK", "Location: http://192.168.0.1:2869/rootDesc.xml"));
    ASSERT_EQ(answer.status, SsdpAnswerStatus::kGateway);
    EXPECT_EQ(answer.gateway.host, "192.168.0.1");
    EXPECT_EQ(answer.gateway.port, "2869");
    EXPECT_EQ(answer.gateway.searchTarget, kTarget);
    // The whole URL too, for the standard control procedure.
    EXPECT_EQ(answer.gateway.descriptionUrl, "http://192.168.0.1:2869/rootDesc.xml");

    answer = EvaluateSsdpAnswer(Answer("HTTP/1.1 200 OK", "Location: http://192.168.0.1/igd.xml"));
    ASSERT_EQ(answer.status, SsdpAnswerStatus::kGateway);
    EXPECT_EQ(answer.gateway.host, "192.168.0.1");
    EXPECT_EQ(answer.gateway.port, "");

    // The URL alone on its line, without a path: cut at the line end.
    answer = EvaluateSsdpAnswer(Answer("HTTP/1.1 200 OK", "Location: http://10.0.0.138:80"));
    EXPECT_EQ(answer.gateway.host, "10.0.0.138");
    EXPECT_EQ(answer.gateway.port, "80");
}

TEST(SsdpAnswerTest, StatusLineChecks) {
    const std::string location = "Location: http://192.168.0.1:2869/";
    EXPECT_EQ(EvaluateSsdpAnswer(Answer("http/1.1 200 OK", location)).status,
              SsdpAnswerStatus::kGateway);
    EXPECT_EQ(EvaluateSsdpAnswer(Answer("\tHttP/1.0 \t 200  OK", location)).status,
              SsdpAnswerStatus::kGateway);
    EXPECT_EQ(EvaluateSsdpAnswer(Answer("HTTP/1.1 404 Not Found", location)).status,
              SsdpAnswerStatus::kBadStatus);
    EXPECT_EQ(EvaluateSsdpAnswer(Answer("HTTP/1.1 2000 OK", location)).status,
              SsdpAnswerStatus::kBadStatus);
    EXPECT_EQ(EvaluateSsdpAnswer("HTTP/1.1").status, SsdpAnswerStatus::kBadStatus);
    EXPECT_EQ(EvaluateSsdpAnswer(Answer("NOTIFY * HTTP/1.1", location)).status,
              SsdpAnswerStatus::kBadHeader);
    EXPECT_EQ(EvaluateSsdpAnswer("HTT").status, SsdpAnswerStatus::kBadHeader);
    EXPECT_EQ(EvaluateSsdpAnswer("").status, SsdpAnswerStatus::kBadHeader);
    EXPECT_EQ(EvaluateSsdpAnswer(" \t ").status, SsdpAnswerStatus::kBadHeader);
    // Only the first 500 bytes are the status line's: a status beyond them is not found.
    EXPECT_EQ(EvaluateSsdpAnswer("HTTP/1.1" + std::string(500, ' ') + "200").status,
              SsdpAnswerStatus::kBadStatus);
    // The answer is narrow text: a zero byte ends it.
    EXPECT_EQ(EvaluateSsdpAnswer(std::string("\0HTTP/1.1 200 OK", 16)).status,
              SsdpAnswerStatus::kBadHeader);
}

TEST(SsdpAnswerTest, LocationHeaderIsCaseSensitive) {
    EXPECT_EQ(
        EvaluateSsdpAnswer(Answer("HTTP/1.1 200 OK", "LOCATION: http://192.168.0.1:2869/")).status,
        SsdpAnswerStatus::kNoLocation);
}

TEST(SsdpAnswerTest, UnusableLocationsEndQuietly) {
    // No "ST: " line: nothing to put in front of the SOAP actions.
    EXPECT_EQ(
        EvaluateSsdpAnswer("HTTP/1.1 200 OK\r\nLocation: http://192.168.0.1:2869/\r\n").status,
        SsdpAnswerStatus::kUnusableLocation);
    // Cut short inside the skipped scheme, or right after it.
    EXPECT_EQ(EvaluateSsdpAnswer("HTTP/1.1 200 OK\r\nLocation: http:/").status,
              SsdpAnswerStatus::kUnusableLocation);
    EXPECT_EQ(EvaluateSsdpAnswer("HTTP/1.1 200 OK\r\nLocation: http://").status,
              SsdpAnswerStatus::kUnusableLocation);
    // No host, for example an https URL whose extra letter shifts the skip onto the slash.
    EXPECT_EQ(
        EvaluateSsdpAnswer(Answer("HTTP/1.1 200 OK", "Location: https://192.168.0.1/")).status,
        SsdpAnswerStatus::kUnusableLocation);
    // A port text of 64 characters does not fit its field; 63 do.
    EXPECT_EQ(EvaluateSsdpAnswer(
                  Answer("HTTP/1.1 200 OK", "Location: http://h:" + std::string(64, '9') + "/"))
                  .status,
              SsdpAnswerStatus::kUnusableLocation);
    SsdpAnswer fits =
        EvaluateSsdpAnswer(Answer("HTTP/1.1 200 OK", "Location: http://h:" + std::string(63, '9')));
    ASSERT_EQ(fits.status, SsdpAnswerStatus::kGateway);
    EXPECT_EQ(fits.gateway.port.size(), 63u);
}

TEST(SsdpAnswerTest, FieldLimits) {
    // The URL is read over at most 100 characters, the search target over 400.
    std::string longHost(150, 'a');
    std::string longTarget(500, 't');
    SsdpAnswer answer = EvaluateSsdpAnswer("HTTP/1.1 200 OK\r\nLocation: http://" + longHost +
                                           "\r\nST: " + longTarget + "\r\n");
    ASSERT_EQ(answer.status, SsdpAnswerStatus::kGateway);
    EXPECT_EQ(answer.gateway.host, std::string(100, 'a'));
    EXPECT_EQ(answer.gateway.searchTarget, std::string(400, 't'));

    // A bare carriage return or line feed ends the values as well.
    answer = EvaluateSsdpAnswer("HTTP/1.1 200 OK\nLocation: http://gw:5000\nST: x:y\rZ");
    EXPECT_EQ(answer.gateway.host, "gw");
    EXPECT_EQ(answer.gateway.port, "5000");
    EXPECT_EQ(answer.gateway.searchTarget, "x:y");
}

}  // namespace
}  // namespace mirka
