// What a session notes in the exchange ledger: every letter it took (who sent it, its data
// files and whether the host took them) and every letter it delivered (to whom, a request or
// not). The ledger only informs; a failure to write it never stops the mail.
#include "mail/message.h"
#include "platform/cp1251.h"
#include "session/mail_thread.h"
#include "store/composition.h"
#include "store/exchange_ledger.h"
#include "store/letter_processing.h"
#include "store/station_overview.h"
#include "tznmail/host.h"

#include <ctime>
#include <stdexcept>

namespace tzn {
namespace {

int DataFiles(TMxMessage& letter) {
    int files = 0;
    for (size_t i = 0; i < letter.MessageParts.Count(); ++i)
        if (letter.MessageParts[i].AsAttachment())
            ++files;
    return files;
}

} // namespace

void TMailThread::NoteInLedger(const std::vector<TLedgerRecord>& records) {
    try {
        TExchangeLedger(Settings().MailDir).Append(records);
    } catch (const std::exception& e) {
        if (!FLedgerFailed) {
            FLedgerFailed = true;
            AddSessionLog(ru("Ошибка записи журнала обмена: ") + e.what());
        }
    }
}

void TMailThread::NoteLetterTaken(TMxMessage& letter, const TLetterOutcome& outcome) {
    TLedgerRecord r;
    r.Time = std::time(nullptr);
    r.Kind = TLedgerKind::Received;
    r.Code = letter.FromList.Empty() ? std::string() : letter.From().Name;
    if (r.Code.empty())
        r.Code = letter.FromList.Empty() ? std::string("?") : letter.From().Address;
    r.Files = outcome.DataFiles;
    r.Imported = outcome.Imported;
    r.Request = IsRequestLetter(letter);
    r.MessageId = letter.MsgId;
    r.Text = letter.Subject;
    NoteInLedger({r});
}

void TMailThread::NoteLetterDelivered(TMxMessage& letter) {
    TLedgerRecord r;
    r.Time = std::time(nullptr);
    r.Kind = TLedgerKind::Sent;
    // Letters not addressed by a station tag are not part of the exchange.
    r.Code = AddresseeCode(letter.Subject);
    if (r.Code.empty())
        return;
    r.Files = DataFiles(letter);
    r.Request = IsRequestLetter(letter);
    r.MessageId = letter.MsgId;
    r.Text = letter.Subject;
    NoteInLedger({r});
}

void TMailThread::MaintainLedger() {
    const std::time_t now = std::time(nullptr);
    try {
        const TExchangeLedger ledger(Settings().MailDir);
        ledger.Prune(now);
        // The office notes the host's list so that a reader without the host knows every
        // station, including those never heard from.
        if (FContext.Side != TModuleSide::Office || !FContext.Host)
            return;
        std::vector<TListedStation> listed;
        try {
            listed = HostStationList(*FContext.Host);
        } catch (...) {
            return; // the host's list is for the overview only; the session goes on
        }
        if (!listed.empty() && listed != LatestStationList(ledger.Load()))
            ledger.Append(StationListRecords(listed, now));
    } catch (const std::exception& e) {
        if (!FLedgerFailed) {
            FLedgerFailed = true;
            AddSessionLog(ru("Ошибка записи журнала обмена: ") + e.what());
        }
    }
}

} // namespace tzn
