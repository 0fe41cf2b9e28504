// What happens when a side collects its mail. The session connects, lists the mailbox and
// passes over the letters' headers (header_scan.h), choosing the letters whose subject
// carries this side's tag. A plain retrieval takes each as it is found, last letter first; a
// sorted one collects them all, orders them sender by sender and oldest first, and only then
// takes them, so the host imports each sender's data in the order it was written. Taking a
// letter is one step for both (TakeLetter): its size, the download, the journal test, the
// hand-over to the host, the copies kept, the deletion on the server; where the two
// retrievals differ, TRetrievalOptions names it.
#include "mail/message.h"
#include "mail/pop3.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "session/found_letters.h"
#include "session/header_scan.h"
#include "session/mail_thread.h"
#include "session/mailbox_journal.h"
#include "session/session_state.h"
#include "store/letter_files.h"
#include "store/letter_processing.h"

#include <optional>
#include <stdexcept>

namespace tzn {
namespace {

const char* const kCancelText = "Передача данных отмененна пользователем";
const char* const kLostText = "Разрыв связи с почтовым сервером, прием писем не возможен!";

} // namespace

const TRetrievalOptions TRetrievalOptions::kPlain{false, true, false, true};
const TRetrievalOptions TRetrievalOptions::kSorted{true, false, true, false};

void TMailThread::LetterFailed(TMxPOP3& pop, TMailboxJournal& journal, const std::exception& e) {
    journal.Missed();
    AddSessionLog(ru("Ошибка приема письма: ") + e.what());
    if (!pop.IsConnected()) {
        AddSessionLog(ru(kLostText));
        throw std::runtime_error(ru(kLostText));
    }
}

bool TMailThread::GetMail() {
    return Retrieve(TRetrievalOptions::kPlain);
}

bool TMailThread::GetMailSorted() {
    return Retrieve(TRetrievalOptions::kSorted);
}

bool TMailThread::Retrieve(const TRetrievalOptions& options) {
    TMailReceivingScope receiving;
    const MailSettings settings = Settings();
    TMxPOP3 pop;
    int received = 0;
    if (!ConnectRetrieval(pop, settings))
        return false;

    bool result = false;
    std::optional<std::string> failure;
    try {
        if (pop.IsConnected()) {
            const int count = CheckMailbox(pop);
            TMailboxJournal journal([this](const std::string& line) { AddSessionLog(line); });
            journal.Open(pop, settings.MailDir, settings.POP3Host, settings.UserName,
                         SubjectTagCode());
            THeaderScan scan(pop, journal, count, SubjectTagCode());
            if (options.CollectFirst)
                TakeSorted(pop, journal, scan, options, settings, received);
            else
                TakeAsFound(pop, journal, scan, options, settings, received);
            journal.Finish();
            result = true;
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    CloseRetrieval(pop, received);
    MailReceiving = false;
    if (failure)
        AddSessionLog(ru("Ошибка: ") + *failure);
    if (options.ClosingBanner)
        AddSessionLog(ru("======== Прием писем завершен========"));
    return result;
}

void TMailThread::TakeAsFound(TMxPOP3& pop, TMailboxJournal& journal, THeaderScan& scan,
                              const TRetrievalOptions& options, const MailSettings& settings,
                              int& received) {
    int64_t size = 0;
    for (TScannedLetter found; scan.Next(found);) {
        try {
            if (MailCancelRequested)
                throw std::runtime_error(ru(kCancelText));
            for (const std::string& line : found.Lines)
                AddSessionLog(line);
            if (!found.Tagged)
                continue;
            AddSessionLog(ru("Найдено письмо от: ") + found.FromText);
            FNextLetter = scan.NextTaggedAtHand();
            TMxMessage letter;
            TakeLetter(pop, journal, found.MsgNum, letter, options, settings, size, received);
        } catch (const std::exception& e) {
            LetterFailed(pop, journal, e);
        }
    }
    FNextLetter = 0;
}

void TMailThread::TakeSorted(TMxPOP3& pop, TMailboxJournal& journal, THeaderScan& scan,
                             const TRetrievalOptions& options, const MailSettings& settings,
                             int& received) {
    TFoundLetters found;
    for (TScannedLetter scanned; scan.Next(scanned);) {
        try {
            for (const std::string& line : scanned.Lines)
                AddSessionLog(line);
            if (scanned.Tagged) {
                AddSessionLog(ru("Найдено письмо от: ") + scanned.FromText);
                found.Add({scanned.MsgNum, scanned.SenderName, scanned.Date});
            }
        } catch (const std::exception& e) {
            LetterFailed(pop, journal, e);
        }
    }

    AddSessionLog(ru("Обработка всех найденых писем с сортировкой!"));
    const int collected = found.Count();
    SortFoundLetters(found, Now());
    if (found.Count() != collected)
        journal.Missed(); // far-future letters stay on the server unseen

    int64_t size = 0;
    for (int k = 0; k < found.Count(); ++k) {
        TMxMessage letter;
        try {
            if (MailCancelRequested)
                throw std::runtime_error(ru(kCancelText));
            FNextLetter = k + 1 < found.Count() ? found[k + 1].MsgNum : 0;
            TakeLetter(pop, journal, found[k].MsgNum, letter, options, settings, size, received);
        } catch (const std::exception& e) {
            journal.Missed();
            if (MailCancelRequested)
                throw std::runtime_error(ru(kCancelText));
            // As far as it was downloaded: empty when nothing was.
            const std::string from = letter.FromList.Empty() ? std::string() : letter.From().Text();
            AddSessionLog(ru("Ошибка приема/обработки письма: ") + from + " : " + e.what());
        }
    }
    FNextLetter = 0;
}

void TMailThread::TakeLetter(TMxPOP3& pop, TMailboxJournal& journal, int msgNum, TMxMessage& letter,
                             const TRetrievalOptions& options, const MailSettings& settings,
                             int64_t& size, int& received) {
    bool sizeKnown = true;
    if (FContext.QueryMessageSizes) {
        try {
            size = pop.MessageSize(msgNum);
        } catch (const std::exception& e) {
            const std::string line = ru("Ошибка получения размера письма: ") + e.what();
            AddSessionLog(line);
            if (options.SizeFailureEndsLetter)
                throw std::runtime_error(line);
            // The size of the letter before stands in for the gauge; the journal keys the
            // letter without one.
            sizeKnown = false;
        }
    } else {
        size = kUnqueriedLetterSize;
        AddSessionLog(ru("определение размера письма пропущено"));
    }
    if (!DownloadLetter(pop, journal, msgNum, size, letter))
        return;
    // The server readies the next letter while this one is handed over and stored; the fetch
    // has already asked for it unless the sizes were not yet known then.
    pop.RetrieveAhead(FNextLetter, FContext.QueryMessageSizes);
    ++received;
    TJournalLetter id;
    if (!FirstImport(pop, journal, msgNum, letter, size, options.SizeFailureEndsLetter || sizeKnown,
                     id))
        return;
    TakeBodyFromTextParts(letter);
    RecodeHeaders(letter);
    std::optional<TSaveResult> stored;
    if (options.StoreBeforeProcessing) {
        stored = KeepLetterCopies(letter, settings);
        AddSessionLog(ru("Обработка письма с ") + letter.From().Name + ru(" от ") +
                      DateTimeToStr(letter.Date));
    }
    TLetterOutcome outcome;
    if (!HandOver(journal, id, letter, outcome)) {
        // The next session stores it again along with processing it.
        if (stored && stored->Outcome == TSaveOutcome::Saved)
            DeleteLetterFile(stored->FileName, MailFolder::InBox);
        LeaveOnServer(ru(kNotProcessedLine), letter);
        return;
    }
    if (options.StoreBeforeProcessing)
        AddSessionLog(ru("Письмо обработано!"));
    // Recorded before the deletion: a connection cut before the farewell undoes the
    // deletion, and the letter must not be imported again then.
    journal.Record(id);
    NoteLetterTaken(letter, outcome);
    if (!stored)
        stored = KeepLetterCopies(letter, settings);
    if (stored->Outcome == TSaveOutcome::Failed) {
        journal.MarkUnstored(id.Key, true);
        LeaveOnServer(ru(kNotStoredLine), letter);
        return;
    }
    DeleteOnServer(pop, msgNum, letter.From().Text());
}

} // namespace tzn
