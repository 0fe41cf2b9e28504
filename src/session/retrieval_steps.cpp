// The steps both retrievals share: header recoding, the body, the copies kept in the mail
// store, the journal test, the deletion on the server and the closing of the connection.
#include "mail/message.h"
#include "mail/message_limits.h"
#include "mail/message_writer.h"
#include "mail/pop3.h"
#include "module/activity_log.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sync_group.h"
#include "session/mail_thread.h"
#include "session/mailbox_journal.h"
#include "session/session_state.h"
#include "store/header_recoding.h"
#include "store/letter_files.h"
#include "store/letter_processing.h"
#include "tznmail/host.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tzn {
namespace {

// The work mode kHostWorkModeAttachedData asks for the TMPinMail copies. The host may throw
// anything; the letter's own error handler takes it as a standard error.
bool TemporaryCopiesWanted(THostServices& host) {
    try {
        return host.GetParamValue(kHostParamWorkMode, 0).ToInteger() == kHostWorkModeAttachedData;
    } catch (const std::exception&) {
        throw;
    } catch (...) {
        throw std::runtime_error(kUnknownError);
    }
}

// A sender's display name as one folder level: it must not climb out of "TMPinMail".
std::string FolderLevel(std::string name) {
    for (char& c : name)
        if (c == '\\' || c == '/' || c == ':')
            c = '_';
    if (name == "." || name == "..")
        name = "_";
    return name;
}

// Creates one folder level (not its parents); an existing folder is fine.
void CreateFolder(const std::string& path) {
    if (DirectoryExists(path))
        return;
    std::error_code ec;
    std::filesystem::create_directory(NativePath(path), ec);
    if (ec)
        throw std::runtime_error("Cannot create folder \"" + path + "\". " + ec.message());
}

} // namespace

void TMailThread::RecodeHeaders(TMxMessage& letter) {
    RecodeMessageHeaders(letter, [this](const std::string& line) { AddSessionLog(line); });
}

void TMailThread::TakeBodyFromTextParts(TMxMessage& letter) {
    for (size_t i = 0; i < letter.MessageParts.Count(); ++i)
        if (const TMxText* text = letter.MessageParts[i].AsText())
            letter.Body = text->Body;
}

bool TMailThread::ConnectRetrieval(TMxPOP3& pop, const MailSettings& settings) {
    pop.Username = settings.UserName;
    pop.Password = settings.Password;
    AddSessionLog(ru("======== Старт приема писем ========="));
    AddSessionLog(ru("Соединение с почтовым сервером..."));
    try {
        // A protection word the client does not know fails here, as a connection error.
        ConfigureClient(pop, settings.POP3Host, settings.POP3Port, settings.POP3Security,
                        "POP3Security", settings);
        pop.ConnectToServer();
        return true;
    } catch (const std::exception& e) {
        AddSessionLog(ru("Ошибка соединения с POP3 сервером: ") + e.what());
        try {
            pop.CloseConnection();
        } catch (...) {
            // The connection error above is the one reported.
        }
        CloseRetrieval(pop, 0);
        return false;
    }
}

int TMailThread::CheckMailbox(TMxPOP3& pop) {
    AddSessionLog(ru("Соединение с POP3 сервером прошло удачно."));
    AddSessionLog(ru("Проверка почтового ящика..."));
    const int count = pop.MessageCount();
    AddSessionLog(ru("На сервере писем: ") + std::to_string(count));
    return count;
}

bool TMailThread::DownloadLetter(TMxPOP3& pop, TMailboxJournal& journal, int msgNum, int64_t size,
                                 TMxMessage& letter) {
    BeginTransfer(kMailDirectionReceiving, size, false);
    bool fetched = false;
    letter.MaxSpooledBytes = int64_t{Settings().MaxLetterSize} << 20;
    try {
        fetched = pop.FetchMessage(msgNum, letter, FNextLetter, FContext.QueryMessageSizes);
    } catch (const EMxSpoolLimitExceeded& e) {
        EndTransfer(size, false);
        journal.Missed();
        AddSessionLog(ru("Ошибка получения письма: ") + e.what());
        LeaveOnServer(ru(kTooLargeLine), letter);
        return false;
    } catch (const EMxLimitExceeded& e) {
        const std::string line = ru("Ошибка получения письма (данные повреждены): ") + e.what();
        AddSessionLog(line);
        EndTransfer(size, false);
        // Refused for what it is, the letter would fail in every session of every side it is
        // tagged for; kept here byte for byte, it can leave the shared mailbox.
        const std::string fromText = letter.From().Text();
        std::optional<std::string> kept;
        if (pop.IsConnected())
            kept = KeepRefusedLetter(pop, msgNum);
        if (!kept)
            throw std::runtime_error(line);
        AddSessionLog(ru("Письмо отклонено и сохранено в ") + *kept + ": " + fromText);
        journal.Missed();
        DeleteOnServer(pop, msgNum, fromText);
        return false;
    } catch (const std::exception& e) {
        const std::string line = ru("Ошибка получения письма (данные повреждены): ") + e.what();
        AddSessionLog(line);
        throw std::runtime_error(line);
    }
    if (!fetched) {
        AddSessionLog(ru("Письмо НЕ считано"));
        EndTransfer(size, false);
        journal.Missed();
        return false;
    }
    EndTransfer(size, false);
    AddSessionLog(ru("Получено письмо от: ") + letter.From().Text());
    return true;
}

bool TMailThread::ProcessLetter(TMxMessage& letter, TLetterOutcome* outcome) {
    return ProcessReceivedLetter(letter, FContext.LocalSide(), WindowServices(), outcome);
}

bool TMailThread::HandOver(TMailboxJournal& journal, const TJournalLetter& id, TMxMessage& letter,
                           TLetterOutcome& outcome) {
    if (journal.HandOverBegun(id.Key))
        AddSessionLog(ru("Предыдущая передача письма не была завершена, письмо передается "
                         "повторно: ") +
                      letter.From().Text());
    journal.MarkHandOver(id.Key, true);
    const bool processed = ProcessLetter(letter, &outcome);
    if (!processed)
        journal.MarkHandOver(id.Key, false);
    return processed;
}

void TMailThread::LeaveOnServer(const std::string& why, TMxMessage& letter) {
    ++LettersLeftOnServer;
    AddSessionLog(why + letter.From().Text());
}

void TMailThread::KeepTemporaryCopy(TMxMessage& letter, const std::string& mailDir) {
    const std::string root = IncludeTrailingBackslash(mailDir) + "TMPinMail";
    CreateFolder(root);
    const std::string sender = FolderLevel(letter.From().Name);
    std::string folder = root + "\\";
    if (!sender.empty()) {
        folder += sender;
        CreateFolder(folder);
        folder += "\\";
    }
    WriteMessageFile(letter, folder + LetterFileStem(Now(), LetterFileCounter.load()), {});
}

TSaveResult TMailThread::KeepLetterCopies(TMxMessage& letter, const MailSettings& settings) {
    if (!settings.IsSaveInMail)
        return {TSaveOutcome::Refused, {}};
    TSaveResult stored = SaveLetterToFolderEx(letter, MailFolder::InBox);
    if (FContext.Host && TemporaryCopiesWanted(*FContext.Host))
        KeepTemporaryCopy(letter, settings.MailDir);
    return stored;
}

std::optional<std::string> TMailThread::KeepRefusedLetter(TMxPOP3& pop, int msgNum) {
    const std::string folder = IncludeTrailingBackslash(Settings().MailDir) + kRefusedFolder + "\\";
    try {
        CreateFolder(folder);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const auto name = PublishLetterFile(folder, [&](const std::string& temp) {
        std::ofstream out(NativePath(temp), std::ios::binary | std::ios::trunc);
        const bool given = pop.RetrieveRaw(msgNum, [&](std::string_view line) {
            out.write(line.data(), static_cast<std::streamsize>(line.size()));
            out.write("\r\n", 2);
        });
        out.close();
        if (!given || !out)
            throw std::runtime_error("Cannot keep the refused letter");
    });
    if (!name)
        return std::nullopt;
    return folder + *name;
}

void TMailThread::DeleteOnServer(TMxPOP3& pop, int msgNum, const std::string& fromText) {
    // The next letter's size and text are asked for with the deletion: the server readies
    // them while this letter's deletion is logged and its group made durable.
    if (pop.DeleteMessage(msgNum, FNextLetter, FContext.QueryMessageSizes))
        AddSessionLog(ru("Удалено письмо с сервера: ") + fromText);
    else
        AddSessionLog(ru("Письмо с сервера НЕ удалено: ") + fromText);
    // The server forgets deleted letters only at the farewell, so the group need not be on
    // disk yet and its barrier runs beside the next letters; bounding it bounds what a power
    // cut hands over again.
    if (TSyncGroup* group = TSyncGroup::Current()) {
        group->CountLetter();
        if (group->Due())
            MakeLettersDurable(*group, TBarrierWait::Ahead);
    }
}

bool TMailThread::MakeLettersDurable(TSyncGroup& group, TBarrierWait wait) {
    if (FDurabilityFailure)
        return false;
    try {
        group.Barrier(wait);
        return true;
    } catch (const std::exception& e) {
        FDurabilityFailure = true;
        AddSessionLog(ru("Ошибка записи писем на диск, письма оставлены на сервере: ") + e.what());
        return false;
    }
}

bool TMailThread::FirstImport(TMxPOP3& pop, TMailboxJournal& journal, int msgNum,
                              TMxMessage& letter, int64_t size, bool sizeKnown,
                              TJournalLetter& id) {
    id = journal.Identify(msgNum, letter, sizeKnown ? size : -1);
    journal.Seen(id.Key);
    if (!journal.Imported(id))
        return true;
    const std::string fromText = letter.From().Text();
    AddSessionLog(ru("Письмо уже было обработано, повторно не обрабатывается: ") + fromText);
    if (journal.Unstored(id.Key)) {
        if (Settings().IsSaveInMail) {
            TakeBodyFromTextParts(letter);
            RecodeHeaders(letter);
            if (SaveLetterToFolderEx(letter, MailFolder::InBox).Outcome == TSaveOutcome::Failed) {
                LeaveOnServer(ru(kNotStoredLine), letter);
                return false;
            }
        }
        journal.MarkUnstored(id.Key, false);
    }
    DeleteOnServer(pop, msgNum, fromText);
    return false;
}

void TMailThread::CloseRetrieval(TMxPOP3& pop, int received) {
    // The farewell makes the deletions final: what this session kept must be on disk first.
    // Without that the connection is dropped, and the server keeps every letter.
    TSyncGroup* group = TSyncGroup::Current();
    if (pop.IsConnected() && group && !MakeLettersDurable(*group)) {
        try {
            pop.CloseConnection(false);
        } catch (...) {
            // The failed flush is what is reported.
        }
    } else if (pop.IsConnected()) {
        AddSessionLog(ru("Завершение соединения с почтовым сервером..."));
        try {
            pop.CloseConnection();
        } catch (const std::exception& e) {
            AddSessionLog(ru("Ошибка разрыва соединения с сервером: ") + e.what());
        }
    } else {
        AddSessionLog(ru("Произошел разрыв связи с почтовым сервером!"));
    }
    AddSessionLog(ru("Соединение завершено. Получено ") + std::to_string(received) + ru(" писем."));
}

} // namespace tzn
