// The size query of each letter, as the two retrievals treat it: a query the server refuses
// skips the letter in the plain run (it waits for the next session) and only costs the
// progress total in the sorted one; with the queries off (the NoSizeMSG.ini marker) no size is
// asked at all and every letter says so.
#include "module/module_state.h"
#include "session_faults.h"

#include <gtest/gtest.h>

namespace tzn::test {
namespace {

// Mailboxes of this file: each test its own, as tests run side by side.
constexpr TExchangeSide kSortedStation{false, 60, 61};
constexpr TExchangeSide kPlainOffice{true, 62, 63};
constexpr TExchangeSide kUnsizedSortedStation{false, 53, 54};
constexpr TExchangeSide kUnsizedPlainOffice{true, 55, 56};

size_t LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t n = 0;
    for (const auto& l : lines)
        n += l.rfind(prefix, 0) == 0;
    return n;
}

class SizeQuery : public SessionFaults {
protected:
    void TearDown() override {
        SetQueryMessageSizes(true);
        SessionFaults::TearDown();
    }
};

TEST_F(SizeQuery, ARefusedQuerySkipsTheLetterInThePlainRunOnly) {
    TFaultPlan refused;
    refused.Action = TFaultAction::ErrorReply;
    refused.Verb = "LIST ";
    refused.Error = "-ERR proxy: no size";
    for (const TExchangeSide& side : {kPlainOffice, kSortedStation}) {
        SCOPED_TRACE(side.Office ? "plain" : "sorted");
        UseSide(side);
        // The accounting of the round: nothing lost, nothing doubled after the follow-up.
        Round("size refused", &*FPop, refused);
        EXPECT_TRUE(FPop->Fired());
        EXPECT_EQ(LinesStartingWith(FLastLines, ru("Ошибка получения размера письма: ")), 1u);
        const size_t received = LinesStartingWith(FLastLines, ru("Получено письмо от: "));
        const size_t skipped = LinesStartingWith(FLastLines, ru("Ошибка приема письма: "));
        if (side.Office) {
            EXPECT_EQ(received, 0u);
            EXPECT_EQ(skipped, 1u);
        } else {
            EXPECT_EQ(received, 1u);
            EXPECT_EQ(skipped, 0u);
            EXPECT_EQ(LinesStartingWith(FLastLines, ru("Письмо обработано!")), 1u);
        }
    }
}

TEST_F(SizeQuery, WithTheQueriesOffNoSizeIsAskedInEitherRun) {
    SetQueryMessageSizes(false);
    for (const TExchangeSide& side : {kUnsizedPlainOffice, kUnsizedSortedStation}) {
        SCOPED_TRACE(side.Office ? "plain" : "sorted");
        UseSide(side);
        Round("no size query", nullptr, {});
        EXPECT_EQ(LinesStartingWith(FLastLines, ru("определение размера письма пропущено")), 1u);
        EXPECT_EQ(LinesStartingWith(FLastLines, ru("Получено письмо от: ")), 1u);
        ASSERT_FALSE(PopCommands().empty());
        for (const TFaultCommand& c : PopCommands())
            EXPECT_NE(c.Line.rfind("LIST", 0), 0u) << c.Line;
    }
}

} // namespace
} // namespace tzn::test
