// Reply classes on their own: final-line rules, code checks, enhanced and response codes.
#include <gtest/gtest.h>

#include "mail/exceptions.h"
#include "mail/reply_pop3.h"
#include "mail/reply_smtp.h"
#include "raised.h"

namespace tzn {
namespace {

TEST(ReplyRFC, FinalLineRulesAndCodeChecks) {
    TMxReplyRFC r;
    EXPECT_TRUE(r.IsEndLine("250"));
    EXPECT_TRUE(r.IsEndLine("250 ok"));
    EXPECT_FALSE(r.IsEndLine("250-more"));
    r.ParseLines({"220-first", "220 second"});
    EXPECT_EQ(r.Code(), "220");
    EXPECT_EQ(r.NumericCode(), 220);
    EXPECT_EQ(r.Text, (std::vector<std::string>{"first", "second"}));
    for (const char* bad : {"99", "1000", "2x0", "abc"}) {
        if (const auto e = test::Raised<EMxException>([&] { r.SetCode(bad); }, bad)) {
            EXPECT_EQ(std::string(e->what()), std::string("Reply Code is not valid: ") + bad);
        }
    }
    EXPECT_NO_THROW(r.SetCode(""));
    EXPECT_THROW(r.ParseLines({"OK fine"}), EMxException);
}

TEST(ReplySMTP, EnhancedCodesOnEveryLine) {
    TMxReplySMTP r;
    r.ParseLines({"250-2.1.0 Sender ok", "250 2.1.5 Recipient ok"});
    EXPECT_EQ(r.Code(), "250");
    EXPECT_EQ(r.Text, (std::vector<std::string>{"Sender ok", "Recipient ok"}));
    EXPECT_EQ(r.EnhancedCode.ReplyAsStr(), "2.1.5");

    r.ParseLines({"550 3.1.1 not an enhanced code (class 3)"});
    EXPECT_FALSE(r.EnhancedCode.Available);
    EXPECT_EQ(r.Text[0], "3.1.1 not an enhanced code (class 3)");

    r.ParseLines({"421 4.7.0"});
    EXPECT_EQ(r.EnhancedCode.ReplyAsStr(), "4.7.0");
    EXPECT_EQ(r.Text[0], "");
    try {
        r.RaiseReplyError();
    } catch (const EMxSMTPReplyError& e) {
        EXPECT_EQ(e.ErrorCode(), 421);
        EXPECT_EQ(e.EnhancedCode().StatusClass, 4);
        EXPECT_EQ(e.EnhancedCode().Subject, 7);
    }
    EXPECT_TRUE(TMxSMTPEnhancedCode::IsValid("5.7.123"));
    EXPECT_FALSE(TMxSMTPEnhancedCode::IsValid("5.7"));
    EXPECT_FALSE(TMxSMTPEnhancedCode::IsValid("5.7.1234"));
    EXPECT_FALSE(TMxSMTPEnhancedCode::IsValid("6.0.0"));
    EXPECT_FALSE(TMxSMTPEnhancedCode::IsValid("5.99999999999.1"));
    EXPECT_FALSE(TMxSMTPEnhancedCode::IsValid("5.+1.1"));
    EXPECT_FALSE(TMxSMTPEnhancedCode::IsValid("5..1"));
}

TEST(ReplyPOP3, CodesSeparatorsAndResponseCodes) {
    TMxReplyPOP3 r;
    EXPECT_EQ(TMxReplyPOP3::CodeLength("+OK 2 320"), 3u);
    EXPECT_EQ(TMxReplyPOP3::CodeLength("-ERR-x"), 4u);
    EXPECT_EQ(TMxReplyPOP3::CodeLength("+"), 1u);
    EXPECT_TRUE(r.IsEndLine("+OK"));
    EXPECT_FALSE(r.IsEndLine("+OK-continued"));

    r.ParseLines({"+ dGVzdA=="});
    EXPECT_EQ(r.Code(), "+");
    EXPECT_EQ(r.Text[0], "dGVzdA==");

    r.ParseLines({"garbage from a broken server"});
    EXPECT_EQ(r.Code(), "-ERR") << "an unknown status counts as a refusal";

    r.ParseLines({"-ERR [SYS/TEMP] try later"});
    EXPECT_EQ(r.EnhancedCode(), "[SYS/TEMP]");
    EXPECT_EQ(r.Text[0], "try later");
    r.ParseLines({"-ERR [UNKNOWN] stays"});
    EXPECT_EQ(r.EnhancedCode(), "");
    EXPECT_EQ(r.Text[0], "[UNKNOWN] stays");
    r.ParseLines({"+OK [IN-USE] only for -ERR"});
    EXPECT_EQ(r.EnhancedCode(), "");

    if (const auto e =
            test::Raised<EMxPOP3ReplyInvalidEnhancedCode>([&] { r.SetEnhancedCode("[BOGUS]"); })) {
        EXPECT_STREQ(e->what(), "Invalid Enhanced Code: [BOGUS]");
    }
    EXPECT_THROW(r.SetCode("OK"), EMxException);
}

TEST(ReplyCodes, WhatCountsAsAllowed) {
    TMxReplySMTP smtp;
    smtp.ParseLines({"251 forwarded"});
    EXPECT_TRUE(TMxReplyCodes{}.Accepts(smtp));
    EXPECT_TRUE(TMxReplyCodes({-1}).Accepts(smtp));
    EXPECT_TRUE(TMxReplyCodes({250, 251}).Accepts(smtp));
    EXPECT_FALSE(TMxReplyCodes({250}).Accepts(smtp));
    TMxReplyPOP3 pop;
    pop.ParseLines({"-ERR no"});
    EXPECT_TRUE(TMxReplyCodes("").Accepts(pop));
    EXPECT_FALSE(TMxReplyCodes("+OK").Accepts(pop));
    EXPECT_TRUE(TMxReplyCodes("-ERR").Accepts(pop));
}

} // namespace
} // namespace tzn
