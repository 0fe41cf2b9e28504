// A retrieval's use of the journal of imported letters over one POP3 connection: letters are
// keyed by the server's unique ids when it offers them, else by Message-ID and size; entries
// of letters the server no longer holds are pruned so the journal stays small. Their
// Message-IDs are kept too, for a letter its sender delivered twice.
#pragma once

#include "session/retrieval_journal.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace tzn {

class TMxMessage;
class TMxPOP3;

// What identifies a letter beyond its Message-ID, for telling a second copy of it from another
// letter under the same id: its sender, subject and the name and size of each of its parts, as
// a short hash. Headers a server or a second sending renews (trace fields, the date) are left
// out, so every copy of a letter has one.
std::string LetterFingerprint(TMxMessage& letter);

class TMailboxJournal {
public:
    using Log = std::function<void(const std::string& line)>;
    explicit TMailboxJournal(Log log) : FLog(std::move(log)) {}

    // Loads the journal of user@host and asks the server for its unique ids. A journal that
    // cannot be read is reported and not used (nor overwritten) in this run. With `tag` set,
    // the letters judged not to carry it are remembered for the next run (see KnownNotOurs).
    void Open(TMxPOP3& pop, const std::string& mailDir, const std::string& host,
              const std::string& user, const std::string& tag = {});
    // Letter `msgNum` as the journal knows letters; size < 0 when unknown. Its Key is empty
    // when the letter cannot be keyed.
    TJournalLetter Identify(int msgNum, TMxMessage& letter, int64_t size) const;
    // By its key (what was recorded with it agreeing), or as a second copy of a letter under
    // a new server id (same Message-ID, same fingerprint).
    bool Imported(const TJournalLetter& letter) const;
    // Notes the letter as imported; a failure to write is reported, not raised.
    void Record(const TJournalLetter& letter);
    // An imported letter's InBox copy is still to be made (true) or was made (false).
    void MarkUnstored(const std::string& key, bool unstored);
    bool Unstored(const std::string& key) const { return FJournal && FJournal->Unstored(key); }
    // A hand-over to the host begun (true) or ended unrecorded (false); see TRetrievalJournal.
    void MarkHandOver(const std::string& key, bool begun);
    bool HandOverBegun(const std::string& key) const {
        return FJournal && FJournal->HandOverBegun(key);
    }
    // Without unique ids (or with a listing that repeats one) the mailbox's keys are learnt letter
    // by letter: Seen for each letter keyed, Missed for one that could not be; Finish prunes only
    // when nothing was missed.
    void Seen(const std::string& key);
    void Missed() { FMissed = true; }
    // A mailbox shared by many sides holds mostly letters for the others; their headers are
    // not fetched again. Only where the server names letters by unique ids it does not repeat:
    // KnownNotOurs is true for a letter an earlier run judged not to carry the tag, NotOurs
    // notes one this run judged so. The memory can only skip a header, never take a letter.
    bool KnownNotOurs(int msgNum) const;
    void NotOurs(int msgNum);
    // Prunes the journal (see Seen) and writes the memory of letters not ours.
    void Finish();

private:
    void Report(const std::string& error) const;
    // Runs a write of the journal (when there is one); its failure is reported, not raised:
    // a journal that cannot be written must not stop the retrieval.
    void Write(const std::function<void(TRetrievalJournal&)>& change);

    Log FLog;
    std::optional<TRetrievalJournal> FJournal;
    bool FByUid = false;
    std::map<int, std::string> FUids;
    std::set<std::string> FSeen;
    bool FMissed = false;
    std::string FNotOursFile; // empty: no memory in this run
    std::string FTag;
    std::set<std::string> FNotOursBefore; // unique ids
    std::set<std::string> FNotOursNow;
};

} // namespace tzn
