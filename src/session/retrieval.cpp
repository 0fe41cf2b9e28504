// Retrieval: the server mailbox from its last letter to its first; every letter whose
// subject carries this side's tag is downloaded, processed, kept and deleted on the server.
#include "mail/message.h"
#include "mail/pop3.h"
#include "platform/cp1251.h"
#include "session/header_scan.h"
#include "session/mail_thread.h"
#include "session/mailbox_journal.h"
#include "session/session_state.h"
#include "session/subject_tag.h"

#include <optional>
#include <stdexcept>

namespace tzn {

bool TMailThread::GetMail() {
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
            THeaderScan scan(pop, journal, count, SubjectTagCode());
            for (TScannedLetter found; scan.Next(found);) {
                const int i = found.MsgNum;
                try {
                    if (MailCancelRequested)
                        throw std::runtime_error(cancelText);
                    for (const std::string& line : found.Lines)
                        AddSessionLog(line);
                    if (!found.Tagged)
                        continue;
                    AddSessionLog(ru("Найдено письмо от: ") + found.FromText);
                    int64_t size = kUnqueriedLetterSize;
                    if (FContext.QueryMessageSizes) {
                        try {
                            size = pop.MessageSize(i);
                        } catch (const std::exception& e) {
                            const std::string line =
                                ru("Ошибка получения размера письма: ") + e.what();
                            AddSessionLog(line);
                            throw std::runtime_error(line);
                        }
                    } else {
                        AddSessionLog(ru("определение размера письма пропущено"));
                    }
                    TMxMessage letter;
                    if (!DownloadLetter(pop, journal, i, size, letter))
                        continue;
                    ++received;
                    TJournalLetter id;
                    if (!FirstImport(pop, journal, i, letter, size, true, id))
                        continue;
                    TakeBodyFromTextParts(letter);
                    RecodeHeaders(letter);
                    if (!HandOver(journal, id, letter)) {
                        LeaveOnServer(ru(kNotProcessedLine), letter);
                        continue;
                    }
                    // Recorded before the deletion: a connection cut before the farewell
                    // undoes the deletion, and the letter must not be imported again then.
                    journal.Record(id);
                    if (KeepLetterCopies(letter, settings).Outcome == SaveOutcome::Failed) {
                        journal.MarkUnstored(id.Key, true);
                        LeaveOnServer(ru(kNotStoredLine), letter);
                        continue;
                    }
                    DeleteOnServer(pop, i, letter.From().Text());
                } catch (const std::exception& e) {
                    journal.Missed();
                    AddSessionLog(ru("Ошибка приема письма: ") + e.what());
                    if (!pop.IsConnected()) {
                        AddSessionLog(lostText);
                        throw std::runtime_error(lostText);
                    }
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
    AddSessionLog(ru("======== Прием писем завершен========"));
    return result;
}

} // namespace tzn
