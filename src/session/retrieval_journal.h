// The journal of letters whose data the host has imported, one per mailbox. A letter's
// deletion on the server becomes final only with the farewell; when the connection breaks
// before it, the letter is offered again, and the journal keeps it from being imported twice.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace tzn {

// A letter's key: the server's unique id where the server has them, else its Message-ID and
// size; empty when neither is known (such a letter cannot be recognised again).
std::string JournalKeyByUid(const std::string& uid);
std::string JournalKeyByMessageId(const std::string& messageId, int64_t size);

class TRetrievalJournal {
public:
    // The journal file of mailbox user@host in `mailDir` (Windows form, ends in "\").
    TRetrievalJournal(const std::string& mailDir, const std::string& host, const std::string& user);

    const std::string& FileName() const { return FFileName; }
    // Reads the file; a missing file is an empty journal. Throws when it cannot be read.
    void Load();
    bool Contains(const std::string& key) const { return FKeys.count(key) != 0; }
    size_t Count() const { return FKeys.size(); }
    // Adds the key and writes the file at once (temporary file, then rename). Throws when the
    // file cannot be written; the key is kept in memory either way.
    void Record(const std::string& key);
    // Keeps only the keys in `listed` (what the server still holds); writes the file when
    // something was removed.
    void Prune(const std::set<std::string>& listed);

private:
    void Save() const;

    std::string FFileName;
    std::set<std::string> FKeys;
};

} // namespace tzn
