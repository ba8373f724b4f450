#include "app/link_detection.h"

#include <gtest/gtest.h>

namespace mirka {
namespace {

std::vector<WString> Targets(WStringView text) {
    std::vector<WString> targets;
    for (const LinkSpan& link : FindLinks(text)) targets.push_back(link.target);
    return targets;
}

TEST(LinkDetection, SchemesAndWwwNames) {
    EXPECT_EQ(Targets(u"見て https://a.example/x?y=1. と ftp://f.example/"),
              (std::vector<WString>{u"https://a.example/x?y=1", u"ftp://f.example/"}));
    EXPECT_EQ(Targets(u"mailto:someone@example.org, file:///tmp/a.txt"),
              (std::vector<WString>{u"mailto:someone@example.org", u"file:///tmp/a.txt"}));
    EXPECT_EQ(Targets(u"「www.example.org」へ"), (std::vector<WString>{u"http://www.example.org"}));
    EXPECT_EQ(Targets(u"HTTP://UPPER.example"), (std::vector<WString>{u"HTTP://UPPER.example"}));
    EXPECT_TRUE(Targets(u"xhttp://no http:// awww.no").empty());
    auto spans = FindLinks(u"a www.b.c d");
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].start, 2u);
    EXPECT_EQ(spans[0].length, 7u);
}

}  // namespace
}  // namespace mirka
