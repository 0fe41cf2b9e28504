// TMailThread: one mail session on a thread of its own. It brings the network up, collects
// the letters addressed to this side (plain or sorted retrieval), delivers the outgoing
// folder, drops the network again when so configured, and reports every step as a log line
// to the mailbox window and the activity log. TSessionRunner (session_runner.h) runs one
// after another; Execute runs one on the calling thread.
#pragma once

#include "mail/component.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/sync_group.h"
#include "session/mail_messages.h"
#include "store/local_side.h"
#include "store/mail_store.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tzn {

class THostServices;
class TMxMessage;
class TMxPOP3;
class TMxTCPClient;
class TMailboxJournal;
class TFolderLock;
class THeaderScan;
class TWindowServices;
struct TJournalLetter;
struct TLetterOutcome;
struct TLedgerRecord;

// The mailbox window as a session sees it: its message sink, and its handlers of the mail
// clients' work events (MailClientWork ...). Handlers left unset are replaced by the window's
// rule: progress is posted only while the direction announced by WM_MAIL_BEGIN matches the
// work (receiving: reading, sending: writing).
struct TMailWindow {
    TMailMessageSink Send;
    TMxWorkEvent OnWork;
    TMxWorkBeginEvent OnWorkBegin;
    TMxWorkEndEvent OnWorkEnd;
};

// Everything else a session needs, given at creation.
struct TSessionContext {
    THostServices* Host = nullptr;
    TModuleSide Side = TModuleSide::Station;
    std::string StationCode;
    // The data exchange folder the received data files are written into for the host.
    std::string DataDir;
    bool QueryMessageSizes = true;
    // The settings as they are at the moment of the call; unset: the module's record.
    std::function<MailSettings()> Settings;
    // Reports failures to the user and refreshes the mailbox list; unset: the headless box.
    TWindowServices* WindowServices = nullptr;
    // Brings the network up; false: no network, the session skips to its end. Unset: the
    // session's own network handling (connection library, connection state, dial-up).
    std::function<bool()> ConnectNetwork;
    // Drops what ConnectNetwork brought up, when so configured. Unset with ConnectNetwork
    // unset: the session's own end-of-session rules; unset otherwise: nothing to drop.
    std::function<void()> EndNetwork;
    // Prepares the reports of these shifts into the outgoing folder. Unset: logged, skipped.
    std::function<void(const std::vector<std::string>& shifts)> PrepareStationData;

    // Host, mode, station code, data folder and size-query flag of the loaded module.
    static TSessionContext FromModule();
    // This side as the letter store sees it.
    TLocalSide LocalSide() const {
        return {Host, Side == TModuleSide::Office, StationCode, DataDir};
    }
};

// Where the plain and the sorted retrieval differ; the rest is one path.
struct TRetrievalOptions {
    // Every header is read and the letters ordered before any is taken (sorted), or each is
    // taken as it is found (plain). A cancel then ends the sorted run at once, while the plain
    // one reports it letter by letter.
    bool CollectFirst = false;
    // A letter whose size cannot be learnt is not taken (plain); the sorted retrieval goes on
    // without it.
    bool SizeFailureEndsLetter = true;
    // The InBox copy is made before the host is called, with the lines "Обработка письма с
    // ..." and "Письмо обработано!" around it (sorted); plain keeps it after the hand-over.
    bool StoreBeforeProcessing = false;
    // The closing line "======== Прием писем завершен========" (plain only).
    bool ClosingBanner = true;

    static const TRetrievalOptions kPlain;
    static const TRetrievalOptions kSorted;
};

class TMailThread {
public:
    TMailThread(TSessionMode mode, TMailWindow window, TSessionContext context);
    ~TMailThread();
    TMailThread(const TMailThread&) = delete;
    TMailThread& operator=(const TMailThread&) = delete;

    // The whole session on the calling thread; never throws.
    void Execute();
    // One log line: to the window first (synchronously, no lock held), then to the session
    // log file under LogLock. A file that cannot be written is reported once per session in
    // the window; the session goes on (its lines still reach the window).
    void AddSessionLog(const std::string& text);

    // The steps, public for the tests that drive one of them alone.
    void SendOutBox();    // delivers FOutMail, marking delivered letters for Sent
    bool GetMail();       // retrieval, last letter first
    bool GetMailSorted(); // retrieval, sender by sender, oldest first
    bool Retrieve(const TRetrievalOptions& options);
    StoredLetterListVar& OutMail() { return FOutMail; }

private:
    MailSettings Settings() const;
    intptr_t SendToWindow(const TMailMessage& message);
    void PostToWindow(const TMailMessage& message);
    void BeginTransfer(uintptr_t direction, int64_t size, bool synchronous);
    void EndTransfer(int64_t size, bool synchronous);
    // Server, port, protection (the settings key named `securityKey` holds `security`),
    // time-outs and the window's work handlers.
    void ConfigureClient(TMxTCPClient& client, const std::string& host, int port,
                         const std::string& security, const char* securityKey,
                         const MailSettings& settings);
    void PrepareStationReports();
    // The mail folder to this session alone, against sessions of other processes; false (the
    // reason logged) when another one held it for the whole wait.
    bool LockMailFolder(TFolderLock& lock);

    // The two ways of taking the letters a header pass finds (retrieval.cpp), and the one
    // step that takes a letter: its size, download, journal test, hand-over to the host, the
    // copies kept, the deletion on the server. A letter that is not taken raises (or returns
    // with its line logged when it stays on the server for the next session).
    void TakeAsFound(TMxPOP3& pop, TMailboxJournal& journal, THeaderScan& scan,
                     const TRetrievalOptions& options, const MailSettings& settings, int& received);
    void TakeSorted(TMxPOP3& pop, TMailboxJournal& journal, THeaderScan& scan,
                    const TRetrievalOptions& options, const MailSettings& settings, int& received);
    // A letter's failure as the header pass and the plain run report it: its line, and the
    // end of the run when the connection is gone.
    void LetterFailed(TMxPOP3& pop, TMailboxJournal& journal, const std::exception& e);
    void TakeLetter(TMxPOP3& pop, TMailboxJournal& journal, int msgNum, TMxMessage& letter,
                    const TRetrievalOptions& options, const MailSettings& settings, int64_t& size,
                    int& received);

    // Steps of taking a letter (retrieval_steps.cpp).
    // Sets the client up, writes the opening lines and connects; false (and the closing lines
    // written) when connecting failed.
    bool ConnectRetrieval(TMxPOP3& pop, const MailSettings& settings);
    // The lines of a reached mailbox; its letter count.
    int CheckMailbox(TMxPOP3& pop);
    // Downloads one letter with its gauge messages and lines; false when the server's answer
    // was not a letter or was too large (it stays on the server) or the letter was refused for
    // its content (kept in the Refused folder and deleted on the server); a broken download
    // raises.
    bool DownloadLetter(TMxPOP3& pop, TMailboxJournal& journal, int msgNum, int64_t size,
                        TMxMessage& letter);
    std::string SubjectTagCode() const { return FContext.StationCode; }
    void RecodeHeaders(TMxMessage& letter);
    static void TakeBodyFromTextParts(TMxMessage& letter);
    // The InBox copy (and the temporary copy); what became of the InBox copy.
    TSaveResult KeepLetterCopies(TMxMessage& letter, const MailSettings& settings);
    void KeepTemporaryCopy(TMxMessage& letter, const std::string& mailDir);
    void DeleteOnServer(TMxPOP3& pop, int msgNum, const std::string& fromText);
    // The letter as the server holds it, byte for byte, in the mail folder's "Refused" folder;
    // its path, or nothing when it could not be kept.
    std::optional<std::string> KeepRefusedLetter(TMxPOP3& pop, int msgNum);
    // False when the letter (or a copy of it, by its Message-ID) was imported before: it is
    // then deleted on the server, not processed again (its InBox copy made first when an
    // earlier session could not). `id` receives what the journal knows it by, to record once it is
    // processed.
    bool FirstImport(TMxPOP3& pop, TMailboxJournal& journal, int msgNum, TMxMessage& letter,
                     int64_t size, bool sizeKnown, TJournalLetter& id);
    // Ends the connection with the farewell once what was kept is on disk, else without it.
    void CloseRetrieval(TMxPOP3& pop, int received);
    // A barrier of the session's sync group; false (the line logged, once per session) when
    // it failed: the farewell must then not be sent. A barrier started ahead reports its
    // failure at the next one.
    bool MakeLettersDurable(TSyncGroup& group, TBarrierWait wait = TBarrierWait::UntilDurable);
    // False when none of the letter's data reached the host (reported to the user).
    bool ProcessLetter(TMxMessage& letter, TLetterOutcome* outcome);
    // ProcessLetter with the hand-over marked in the journal while the host imports: a
    // session that dies inside the import leaves the mark, and the next one hands the letter
    // over again saying so (a second import is better than a lost one).
    bool HandOver(TMailboxJournal& journal, const TJournalLetter& id, TMxMessage& letter,
                  TLetterOutcome& outcome);
    // A letter that is not safe here yet (not processed, or its InBox copy not written) stays
    // on the server for the next session; `why` is the line's beginning.
    void LeaveOnServer(const std::string& why, TMxMessage& letter);
    TWindowServices& WindowServices() const;
    // The exchange ledger of the mail folder (exchange_ledger.h): a letter taken or delivered,
    // and at the office the host's station list when it changed. A ledger that cannot be
    // written is reported once per session; the mail work goes on.
    void NoteInLedger(const std::vector<TLedgerRecord>& records);
    void NoteLetterTaken(TMxMessage& letter, const TLetterOutcome& outcome);
    void NoteLetterDelivered(TMxMessage& letter);
    void MaintainLedger();

    // The expected size of every letter when the server is not asked for sizes.
    static constexpr int64_t kUnqueriedLetterSize = 1000000;
    // The lines of a letter left on the server (UTF-8 here, CP1251 once through ru()).
    static constexpr const char* kNotProcessedLine = "Письмо не обработано, оставлено на сервере: ";
    static constexpr const char* kNotStoredLine = "Письмо не сохранено, оставлено на сервере: ";
    static constexpr const char* kTooLargeLine =
        "Письмо больше допустимого размера (MaxLetterSize), оставлено на сервере: ";

    const TSessionMode FSessionMode;
    TMailWindow FWindow;
    TSessionContext FContext;
    StoredLetterListVar FOutMail;
    std::atomic<uintptr_t> FDirection{0}; // the transfer the window's gauge follows
    bool FLogFileFailed = false;
    bool FLedgerFailed = false;
    bool FDurabilityFailure = false;
    int FNextLetter = 0; // the letter a retrieval takes after the current one; 0 none known
};

} // namespace tzn
