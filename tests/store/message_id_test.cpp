#include "store/message_id.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

TEST(ReplaceMessageIdTest, TheHeaderWithItsContinuationIsReplacedOrAddedAndTheBodyKept) {
    const std::string body = "\r\nMessage-ID: <in.the@body>\r\n";
    EXPECT_EQ(
        ReplaceMessageId("From: a@b\r\nmessage-id:\r\n <old@x>\r\n\tmore\r\nSubject: s\r\n" + body,
                         "<new@x>"),
        "From: a@b\r\nMessage-ID: <new@x>\r\nSubject: s\r\n" + body);
    EXPECT_EQ(ReplaceMessageId("From: a@b\r\nSubject: s\r\n" + body, "<new@x>"),
              "From: a@b\r\nSubject: s\r\nMessage-ID: <new@x>\r\n" + body);
    // A letter of headers only, its last line unended.
    EXPECT_EQ(ReplaceMessageId("Subject: s", "<n@x>"), "Subject: s\r\nMessage-ID: <n@x>\r\n");
    EXPECT_EQ(ReplaceMessageId("Message-ID: <o@x>\nSubject: s\n\nbody\n", "<n@x>"),
              "Message-ID: <n@x>\nSubject: s\n\nbody\n");
}

} // namespace
} // namespace tzn
