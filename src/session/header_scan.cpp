#include "session/header_scan.h"

#include "mail/message.h"
#include "mail/pop3.h"
#include "platform/cp1251.h"
#include "session/mailbox_journal.h"
#include "session/subject_tag.h"
#include "store/header_recoding.h"

#include <algorithm>
#include <exception>

namespace tzn {
namespace {

constexpr size_t kHeaderBatch = 8 * kMxPOP3PipelineWindow;

} // namespace

THeaderScan::THeaderScan(TMxPOP3& pop, TMailboxJournal& journal, int count, std::string tag)
    : FPop(pop), FJournal(journal), FTag(std::move(tag)) {
    for (int i = count; i >= 1; --i)
        FNums.push_back(i);
}

bool THeaderScan::Next(TScannedLetter& letter) {
    while (FReady.empty() && FNext < FNums.size())
        FetchWindow();
    if (FReady.empty())
        return false;
    letter = std::move(FReady.front());
    FReady.pop_front();
    return true;
}

int THeaderScan::NextTaggedAtHand() const {
    for (const TScannedLetter& letter : FReady)
        if (letter.Tagged)
            return letter.MsgNum;
    return 0;
}

void THeaderScan::FetchWindow() {
    // Where the server pipelines, the client keeps its window of commands in flight across a
    // whole batch; the batch only bounds what waits here to be told.
    const size_t batch = FPop.HasPipelining() && !FBroken ? kHeaderBatch : 1;
    const size_t end = std::min(FNums.size(), FNext + batch);
    std::vector<int> asked;
    std::vector<size_t> slots; // where each asked letter's entry stands in FReady
    for (; FNext < end; ++FNext) {
        TScannedLetter letter;
        letter.MsgNum = FNums[FNext];
        if (!FJournal.KnownNotOurs(letter.MsgNum)) {
            asked.push_back(letter.MsgNum);
            slots.push_back(FReady.size());
        }
        FReady.push_back(std::move(letter));
    }
    size_t done = 0;
    // After a failed connection each is asked alone, and fails (or, on a connection that came
    // back, comes) as it would.
    const auto askAlone = [&] {
        for (; done < asked.size(); ++done) {
            TMxMessage header;
            try {
                FPop.FetchHeader(asked[done], header);
                Judge(FReady[slots[done]], header, nullptr);
            } catch (const std::exception& e) {
                Judge(FReady[slots[done]], header, e.what());
            }
        }
    };
    if (FBroken) {
        askAlone();
        return;
    }
    try {
        FPop.FetchHeaders(asked, [&](int, TMxMessage& header, const std::exception* error) {
            Judge(FReady[slots[done]], header, error ? error->what() : nullptr);
            ++done;
        });
    } catch (const std::exception& e) {
        // The connection failed under this letter's header.
        FBroken = true;
        TMxMessage none;
        if (done < asked.size())
            Judge(FReady[slots[done++]], none, e.what());
        askAlone();
    }
}

void THeaderScan::Judge(TScannedLetter& letter, TMxMessage& header, const char* error) {
    if (error) {
        letter.Lines.push_back(ru("Ошибка приема заголовка: ") + error);
        FJournal.Missed();
    }
    try {
        RecodeMessageHeaders(header,
                             [&](const std::string& line) { letter.Lines.push_back(line); });
        letter.Tagged = SubjectCarriesTag(header.Subject, FTag);
        if (letter.Tagged) {
            letter.FromText = header.From().Text();
            letter.SenderName = header.From().Name;
            letter.Date = header.Date;
        } else if (!error) {
            FJournal.NotOurs(letter.MsgNum);
        }
    } catch (const std::exception& e) {
        letter.Lines.push_back(ru("Ошибка приема письма: ") + e.what());
        letter.Tagged = false;
        FJournal.Missed();
    }
}

} // namespace tzn
