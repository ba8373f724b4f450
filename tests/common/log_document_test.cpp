#include <gtest/gtest.h>

#include "common/log_document.h"

namespace mirka {
namespace {

LogRun PlainRun(const char16_t* text) {
    return LogRun{text, LogStyle{}};
}

TEST(LogDocument, ViewersGetOnlyWhatTheyHaveNotShown) {
    LogDocument log;
    log.Append({PlainRun(u"a"), PlainRun(u"b")});
    LogSlice first = log.Since(0, 0);
    EXPECT_FALSE(first.restart);
    ASSERT_EQ(first.runs.size(), 2u);
    log.Append({PlainRun(u"c")});
    LogSlice next = log.Since(2, first.clears);
    ASSERT_EQ(next.runs.size(), 1u);
    EXPECT_EQ(next.runs[0].text, u"c");

    // Cleared and refilled beyond what the viewer had: it must start again, not go on.
    log.Clear();
    log.Append({PlainRun(u"x"), PlainRun(u"y"), PlainRun(u"z"), PlainRun(u"w")});
    LogSlice again = log.Since(3, next.clears);
    EXPECT_TRUE(again.restart);
    ASSERT_EQ(again.runs.size(), 4u);
    EXPECT_EQ(again.runs[0].text, u"x");
    EXPECT_TRUE(log.Since(4, again.clears).runs.empty());
}

}  // namespace
}  // namespace mirka
