// Sorted retrieval: a header pass collects the letters carrying this side's tag, they are
// ordered sender by sender and oldest first, and only then downloaded, kept, processed and
// deleted one by one, so the host imports each sender's data in the order it was written.
#include "mail/message.h"
#include "mail/pop3.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "session/found_letters.h"
#include "session/header_scan.h"
#include "session/mail_thread.h"
#include "session/mailbox_journal.h"
#include "session/session_state.h"
#include "session/subject_tag.h"
#include "store/letter_files.h"

#include <optional>
#include <stdexcept>

namespace tzn {

bool TMailThread::GetMailSorted() {
    TMailReceivingScope receiving;
    const MailSettings settings = Settings();
    TMxPOP3 pop;
    int received = 0;
    if (!ConnectRetrieval(pop, settings))
        return false;

    const std::string cancelText = ru("Передача данных отмененна пользователем");
    const std::string lostText = ru("Разрыв связи с почтовым сервером, прием писем не возможен!");
    bool result = false;
    std::optional<std::string> failure;
    try {
        if (pop.IsConnected()) {
            const int count = CheckMailbox(pop);
            TMailboxJournal journal([this](const std::string& line) { AddSessionLog(line); });
            journal.Open(pop, settings.MailDir, settings.POP3Host, settings.UserName,
                         SubjectTagCode());

            FoundLetters found;
            THeaderScan scan(pop, journal, count, SubjectTagCode());
            for (TScannedLetter scanned; scan.Next(scanned);) {
                try {
                    for (const std::string& line : scanned.Lines)
                        AddSessionLog(line);
                    if (scanned.Tagged) {
                        AddSessionLog(ru("Найдено письмо от: ") + scanned.FromText);
                        found.Add({scanned.MsgNum, scanned.SenderName, scanned.Date});
                    }
                } catch (const std::exception& e) {
                    journal.Missed();
                    AddSessionLog(ru("Ошибка приема письма: ") + e.what());
                    if (!pop.IsConnected()) {
                        AddSessionLog(lostText);
                        throw std::runtime_error(lostText);
                    }
                }
            }

            AddSessionLog(ru("Обработка всех найденых писем с сортировкой!"));
            const int collected = found.Count();
            SortFoundLetters(found, Now());
            if (found.Count() != collected)
                journal.Missed(); // far-future letters stay on the server unseen

            int64_t size = 0;
            for (int k = 0; k < found.Count(); ++k) {
                const int msgNum = found[k].MsgNum;
                TMxMessage letter;
                try {
                    if (MailCancelRequested)
                        throw std::runtime_error(cancelText);
                    bool sizeKnown = true;
                    if (FContext.QueryMessageSizes) {
                        try {
                            size = pop.MessageSize(msgNum);
                        } catch (const std::exception& e) {
                            AddSessionLog(ru("Ошибка получения размера письма: ") + e.what());
                            sizeKnown = false;
                        }
                    } else {
                        size = kUnqueriedLetterSize;
                        AddSessionLog(ru("определение размера письма пропущено"));
                    }
                    if (!DownloadLetter(pop, journal, msgNum, size, letter))
                        continue;
                    ++received;
                    TJournalLetter id;
                    if (!FirstImport(pop, journal, msgNum, letter, size, sizeKnown, id))
                        continue;
                    TakeBodyFromTextParts(letter);
                    RecodeHeaders(letter);
                    const SaveResult stored = KeepLetterCopies(letter, settings);
                    AddSessionLog(ru("Обработка письма с ") + letter.From().Name + ru(" от ") +
                                  DateTimeToStr(letter.Date));
                    if (!HandOver(journal, id, letter)) {
                        // The next session stores it again along with processing it.
                        if (stored.Outcome == SaveOutcome::Saved)
                            DeleteLetterFile(stored.FileName, MailFolder::InBox);
                        LeaveOnServer(ru(kNotProcessedLine), letter);
                        continue;
                    }
                    AddSessionLog(ru("Письмо обработано!"));
                    // Recorded before the deletion: a connection cut before the farewell
                    // undoes the deletion, and the letter must not be imported again then.
                    journal.Record(id);
                    if (stored.Outcome == SaveOutcome::Failed) {
                        journal.MarkUnstored(id.Key, true);
                        LeaveOnServer(ru(kNotStoredLine), letter);
                        continue;
                    }
                    DeleteOnServer(pop, msgNum, letter.From().Text());
                } catch (const std::exception& e) {
                    journal.Missed();
                    if (MailCancelRequested)
                        throw std::runtime_error(cancelText);
                    // As far as it was downloaded: empty when nothing was.
                    const std::string from =
                        letter.FromList.Empty() ? std::string() : letter.From().Text();
                    AddSessionLog(ru("Ошибка приема/обработки письма: ") + from + " : " + e.what());
                }
            }
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
    return result;
}

} // namespace tzn
