// INI files with Windows semantics: section and key names compare case-insensitively; a
// write changes the key's line in place or appends it to its section (creating the section
// at the end); every other line of the file, comments and order included, is kept byte for
// byte. A missing file reads as empty. Every write goes to disk at once, flushed before it
// replaces the file. Text is CP1251.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tzn {

// One line of a file: its text without the line break, and the break that followed it (empty
// for a last line without one), so that an untouched line is written back unchanged.
struct TIniLine {
    std::string Text;
    std::string Eol;
};

// The content of an INI file parsed once and held in memory: every read answers from that one
// parse, so a reader of many keys never mixes two versions of a file being replaced.
class TIniContent {
public:
    TIniContent() = default; // empty, as a missing file
    explicit TIniContent(const std::string& text);

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Default when missing or not a decimal integer.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    // Integer read; any non-zero value is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    bool SectionExists(const std::string& section) const;
    std::vector<std::string> ReadSection(const std::string& section) const; // key names

private:
    std::vector<TIniLine> FLines;
};

class TIniFile {
public:
    explicit TIniFile(std::string path); // Windows-form or native
    const std::string& FileName() const { return FPath; }

    // Reads and parses the file once. A missing file is empty; one that exists but cannot be
    // read throws std::runtime_error (its defaults would silently replace real settings).
    TIniContent Load() const;

    // Each of these reads the file afresh; an unreadable file gives the defaults.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Default when missing or not a decimal integer.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    // Integer read; any non-zero value is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    bool SectionExists(const std::string& section) const;
    std::vector<std::string> ReadSection(const std::string& section) const; // key names
    // Throws std::runtime_error when the file exists but cannot be read (the reads above then
    // give their defaults, which a caller may need to tell apart from a missing file).
    void CheckReadable() const;

    // Throw std::runtime_error when the file cannot be written, or exists but cannot be read
    // (its other lines would be lost). A symbolic link is followed: its target is updated.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value); // 1/0
    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

    // Between BeginUpdate and Commit the writes above change a copy held here, and Commit
    // replaces the file once: a whole settings save is one read and one atomic write, and an
    // update abandoned by an error (the object destroyed without Commit) leaves the file as it
    // was. Other writers in the process wait meanwhile; reads still see the file.
    void BeginUpdate();
    void Commit();

private:
    TIniContent Snapshot() const;
    std::unique_lock<std::mutex> LockForWrite();
    std::string Content() const;            // what the next change starts from
    void Store(const std::string& content); // the file, or the open update's copy

    std::string FPath;
    bool FUpdating = false;
    std::string FPending;
    std::unique_lock<std::mutex> FUpdateLock;
};

} // namespace tzn
