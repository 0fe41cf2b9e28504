// The mail store: letters kept as stored-message files in MailDir + "InBox\", "OutBox\" and
// "Sent\". The folders' contents are the whole state; every listing is a fresh scan.
#pragma once

#include "store/letter_files.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tzn {

class TMxMessage;
class TWindowServices;

// One loaded letter and its key: current folder letter + target folder letter + file name
// ("oo1206-143005-12.eml"). A caller records a move by changing the second letter only.
struct TStoredLetter {
    std::string Key;
    std::unique_ptr<TMxMessage> Letter;
    // Only the header block was loaded: a move copies the file instead of writing the letter,
    // which would lose its body.
    bool HeadersOnly = false;

    std::optional<MailFolder> CurrentFolder() const;
    std::optional<MailFolder> TargetFolder() const;
    std::string FileName() const; // the key from its third character on
    void SetTargetFolder(MailFolder folder);
};

// An ordered list of loaded letters; it owns them.
class StoredLetterList {
public:
    StoredLetterList();
    ~StoredLetterList();
    StoredLetterList(const StoredLetterList&) = delete;
    StoredLetterList& operator=(const StoredLetterList&) = delete;

    size_t Count() const { return FEntries.size(); }
    bool Empty() const { return FEntries.empty(); }
    TStoredLetter& operator[](size_t i) { return FEntries[i]; }
    const TStoredLetter& operator[](size_t i) const { return FEntries[i]; }
    std::vector<TStoredLetter>::iterator begin() { return FEntries.begin(); }
    std::vector<TStoredLetter>::iterator end() { return FEntries.end(); }
    std::vector<TStoredLetter>::const_iterator begin() const { return FEntries.begin(); }
    std::vector<TStoredLetter>::const_iterator end() const { return FEntries.end(); }

    void Add(std::string key, std::unique_ptr<TMxMessage> letter, bool headersOnly = false);
    // Index of the entry with this key, or -1.
    long IndexOfKey(const std::string& key) const;

private:
    friend void ClearLetterList(StoredLetterList& list);
    std::vector<TStoredLetter> FEntries;
};

// A list variable: empty (no list at all) reads as a list with no entries. The scans create
// the list only when they find a letter.
using StoredLetterListVar = std::unique_ptr<StoredLetterList>;

// Writes the letter into the folder under a fresh name. False, with no file written and the
// counter unchanged, when the settings refuse it (InBox with IsSaveInMail off, Sent with
// IsSaveOutMail off) or anything fails. OutBox is never refused; a letter going there without
// a Message-ID is given one first, named after its sender when the working address names no
// domain (every letter this side composes is sent in its station's name).
bool SaveLetterToFolder(TMxMessage& letter, MailFolder folder);

enum class TSaveOutcome { Saved, Refused, Failed };
struct TSaveResult {
    TSaveOutcome Outcome = TSaveOutcome::Failed;
    std::string FileName; // when saved
};
// The same, telling a refusal from a failure and naming the file written.
TSaveResult SaveLetterToFolderEx(TMxMessage& letter, MailFolder folder);

// Deletes MailDir + folder name + file name; false when it failed. A name holding a path
// separator is refused.
bool DeleteLetterFile(const std::string& fileName, MailFolder folder);

// A letter loaded in full, owned by the caller; nullptr when it cannot be loaded.
std::unique_ptr<TMxMessage> LoadLetterFile(const std::string& fileName, MailFolder folder);

// Empty the list, then add every "*.eml" file of the folder (All: InBox, OutBox, Sent in that
// order), each keyed with its folder letter twice. Files that cannot be read are skipped.
// LoadFolderLetters reads each letter in full; LoadFolderHeaders only its header block.
// Sender, recipients and subject are recoded (header_recoding.h) without logging.
void LoadFolderLetters(StoredLetterListVar& list, MailFolder folder);
void LoadFolderHeaders(StoredLetterListVar& list, MailFolder folder);

// Performs every recorded move (save into the target folder, then delete the old file), frees
// the list, empties the variable and has `window` refresh the mailbox list. A letter refused
// by the target folder's setting is just removed; one whose save failed stays where it was.
void ApplyLetterMoves(StoredLetterListVar& list, TWindowServices& window);
// A move to Sent writes the Sent copy, then removes the original; a process killed between
// the two leaves the delivered letter in OutBox too. Such letters (a Sent copy written since,
// with the same Message-ID) are removed from OutBox, so that they go out and are filed only
// once. Returns the names removed. Called with the mail folder to the session alone.
std::vector<std::string> DropDeliveredFromOutBox();

// Frees every letter, last first; the list object stays.
void ClearLetterList(StoredLetterList& list);

} // namespace tzn
