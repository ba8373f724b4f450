#include <gtest/gtest.h>

#include "support/recorders.h"
#include "toolkit/message_box.h"

namespace mirka {
namespace {

TEST(MessageBox, CaptionsFormattingAndCut) {
    test::MessageRecorder recorder;
    ShowMessage(u"taskId %d == EOF", 7);
    EXPECT_EQ(ShowTypedMessage(kMbIconError, kErrorCaption, u"%S", std::string("refused")), kIdOk);
    ShowMessage(u"%s", WString(3000, u'x'));
    // A ready text passed as the argument is not read as a format.
    ShowMessage(u"%s", u"C:\\%d\\folder");
    auto boxes = recorder.Boxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].caption, u"Show Message");
    EXPECT_EQ(boxes[0].type, unsigned{kMbOk});
    EXPECT_EQ(boxes[0].text, u"taskId 7 == EOF");
    EXPECT_EQ(boxes[1].caption, u"エラー");
    EXPECT_EQ(boxes[1].type, unsigned{kMbIconError});
    EXPECT_EQ(boxes[1].text, u"refused");
    EXPECT_EQ(boxes[2].text.size(), 2047u);
    EXPECT_EQ(boxes[3].text, u"C:\\%d\\folder");
}

}  // namespace
}  // namespace mirka
