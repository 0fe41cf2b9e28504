// The journal of letters whose data the host has imported, one per mailbox. A letter's
// deletion on the server becomes final only with the farewell; when the connection breaks
// before it, the letter is offered again, and the journal keeps it from being imported twice.
// It also keeps the Message-IDs of imported letters: a sender that never heard the server take
// a letter sends it again, and that second copy has a server id of its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>

namespace tzn {

// A letter's key: the server's unique id where the server has them, else its Message-ID and
// size; empty when neither is known (such a letter cannot be recognised again).
std::string JournalKeyByUid(const std::string& uid);
std::string JournalKeyByMessageId(const std::string& messageId, int64_t size);

// A letter as the journal recognises it. A key alone is not trusted: a server may give a new
// letter the id of an old one, and two senders may use one Message-ID; what else is known of
// the letter must agree too.
struct TJournalLetter {
    std::string Key{};
    std::string MessageId{};
    int64_t Size = -1;         // the server's size of the letter; < 0 unknown
    std::string Fingerprint{}; // its sender and content (see LetterFingerprint); empty unknown
};

class TRetrievalJournal {
public:
    // The journal file of mailbox user@host in `mailDir` (Windows form, ends in "\").
    TRetrievalJournal(const std::string& mailDir, const std::string& host, const std::string& user);
    ~TRetrievalJournal();
    TRetrievalJournal(const TRetrievalJournal&) = delete;
    TRetrievalJournal& operator=(const TRetrievalJournal&) = delete;

    const std::string& FileName() const { return FFileName; }
    // Reads the file; a missing file is an empty journal. Throws when it cannot be read.
    void Load();
    bool Contains(const std::string& key) const { return FKeys.count(key) != 0; }
    // The letter's key was recorded, and what was recorded with it (size, Message-ID) agrees
    // wherever both sides know it.
    bool Matches(const TJournalLetter& letter) const;
    // A letter of this Message-ID and fingerprint was recorded (a second copy of it under
    // another key); never for an empty id or fingerprint.
    bool ContainsCopy(const TJournalLetter& letter) const;
    // An imported letter whose InBox copy could not be written; the session that meets it
    // again keeps the copy before deleting it on the server.
    bool Unstored(const std::string& key) const { return FUnstored.count(key) != 0; }
    size_t Count() const { return FKeys.size(); }
    // Adds the letter's key (replacing what an older letter of that key left) and its
    // Message-ID (either may be empty), and writes the change to the file at once (appended,
    // or the whole file through a temporary file and a rename). Throws when the file cannot be
    // written; what was added is kept in memory either way.
    void Record(const TJournalLetter& letter, std::time_t now = std::time(nullptr));
    // Marks the letter's InBox copy as still to be made (true) or made (false); writes the
    // file when that changes anything. Throws as Record.
    void MarkUnstored(const std::string& key, bool unstored);
    // The letter is being handed to the host (true) or that hand-over ended unrecorded
    // (false); Record ends it too. A mark a session finds was left by one that died inside
    // the host's import. Throws as Record.
    void MarkHandOver(const std::string& key, bool begun);
    bool HandOverBegun(const std::string& key) const { return FHandOver.count(key) != 0; }
    // Keeps only the keys (and marks) in `listed` (what the server still holds) and the Message-IDs
    // recorded less than kMessageIdDays before `now`; writes the file when something was
    // removed. A second copy of a letter is listed beside the first or follows it within
    // days, so the ids need not follow the server's list.
    void Prune(const std::set<std::string>& listed, std::time_t now = std::time(nullptr));

    static constexpr int kMessageIdDays = 30;

private:
    struct TKeyCheck {
        int64_t Size = -1;
        std::string MessageId;
    };
    struct TIdEntry {
        std::time_t Recorded = 0;
        std::string Fingerprint; // empty in files written before fingerprints were kept
    };
    // Writes the whole file anew (temporary file, then rename).
    void Save();
    void CloseAppend();
    // Writes `lines` (whole lines describing a change) to the end of the file, or rewrites it
    // when it holds a cut line or too many outdated ones.
    void Append(const std::string& lines);
    // Sets or clears a key's mark in `marks`, appending `prefix` + key when that changes
    // anything.
    void Mark(std::set<std::string>& marks, const char* prefix, const std::string& key, bool on);

    std::string FFileName;
    std::map<std::string, TKeyCheck> FKeys;
    std::set<std::string> FUnstored;
    std::set<std::string> FHandOver;
    std::map<std::string, TIdEntry> FMessageIds;
    size_t FLines = 0;    // lines in the file, outdated ones included
    bool FRewrite = true; // the file is missing or ends in a cut line
    int FAppendFd = -1;   // the file, open for appending until the next rewrite
};

} // namespace tzn
