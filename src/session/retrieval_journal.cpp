#include "session/retrieval_journal.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tzn {
namespace {

// A file name from free text: anything but letters, digits, '.', '-' and '_' becomes '_'.
std::string FileNamePart(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_';
        out += plain ? c : '_';
    }
    return out;
}

// Keys live one per line, what they are checked by after a tab: line breaks or tabs inside
// one would split it.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return text;
}

// Message-ID lines: "I <recorded, seconds since 1970> <id>[TAB<fingerprint>]"; "S <key>" marks
// an imported letter whose InBox copy is still to be made, "H <key>" one being handed to the
// host, and "-S <key>" / "-H <key>" clear those marks; other lines are keys ("U ..." or
// "M ...") with "TAB<size>TAB<Message-ID>" after them. A later line about the same key or id
// replaces an earlier one: changes are appended, and the file is rewritten whole only now and
// then. Files written before the ids, marks and checks were kept hold less and load unchanged.
constexpr const char* kIdPrefix = "I ";
constexpr const char* kUnstoredPrefix = "S ";
constexpr const char* kHandOverPrefix = "H ";
constexpr const char* kClearUnstoredPrefix = "-S ";
constexpr const char* kClearHandOverPrefix = "-H ";

// Appended lines beyond the entries they describe, before the next write rewrites the file.
constexpr size_t kMaxStaleLines = 256;

std::string KeyLine(const std::string& key, int64_t size, const std::string& messageId) {
    std::string line = key;
    if (size >= 0 || !messageId.empty())
        line += '\t' + (size >= 0 ? std::to_string(size) : std::string()) + '\t' + messageId;
    return line + "\r\n";
}

std::string IdLine(const std::string& id, std::time_t recorded, const std::string& fingerprint) {
    std::string line = kIdPrefix + std::to_string(static_cast<long long>(recorded)) + ' ' + id;
    if (!fingerprint.empty())
        line += '\t' + fingerprint;
    return line + "\r\n";
}

// Splits "head TAB tail" (no tab: all head).
std::pair<std::string, std::string> AtTab(const std::string& line) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos)
        return {line, {}};
    return {line.substr(0, tab), line.substr(tab + 1)};
}

int64_t SizeText(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos)
        return -1;
    return std::stoll(text);
}

std::string TrimmedId(const std::string& messageId) {
    const std::string id = OneLine(messageId);
    const size_t first = id.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return id.substr(first, id.find_last_not_of(" \t") - first + 1);
}

// False when the line is not a well-formed id line.
bool ParseIdLine(const std::string& whole, std::string& id, std::time_t& recorded,
                 std::string& fingerprint) {
    const auto [line, check] = AtTab(whole);
    fingerprint = check;
    if (line.rfind(kIdPrefix, 0) != 0)
        return false;
    const size_t space = line.find(' ', 2);
    if (space == std::string::npos || space == 2)
        return false;
    long long seconds = 0;
    for (size_t i = 2; i < space; ++i) {
        if (line[i] < '0' || line[i] > '9' || seconds > 1000000000000LL)
            return false;
        seconds = seconds * 10 + (line[i] - '0');
    }
    id = TrimmedId(line.substr(space + 1));
    recorded = static_cast<std::time_t>(seconds);
    return !id.empty();
}

} // namespace

std::string JournalKeyByUid(const std::string& uid) {
    return uid.empty() ? std::string() : "U " + OneLine(uid);
}

std::string JournalKeyByMessageId(const std::string& messageId, int64_t size) {
    if (messageId.empty())
        return {};
    return "M " + OneLine(messageId) + " " + std::to_string(size);
}

TRetrievalJournal::TRetrievalJournal(const std::string& mailDir, const std::string& host,
                                     const std::string& user)
    : FFileName(IncludeTrailingBackslash(mailDir) + "Received-" + FileNamePart(user) + "@" +
                FileNamePart(host) + ".jrn") {}

void TRetrievalJournal::Load() {
    FKeys.clear();
    FUnstored.clear();
    FHandOver.clear();
    FMessageIds.clear();
    FLines = 0;
    FRewrite = true;
    if (!FileExists(FFileName))
        return;
    std::ifstream in(NativePath(FFileName), std::ios::binary);
    if (!in)
        throw std::runtime_error("Cannot open file \"" + FFileName + "\"");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("Cannot read file \"" + FFileName + "\"");
    size_t from = 0;
    // A line without its end was cut by a crash while being appended: a shortened key could
    // stand for another letter, so it is dropped, and the next write rewrites the file.
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        std::string line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ++FLines;
        std::string id, fingerprint;
        std::time_t recorded = 0;
        if (ParseIdLine(line, id, recorded, fingerprint)) {
            FMessageIds[id] = {recorded, fingerprint};
        } else if (line.rfind(kUnstoredPrefix, 0) == 0) {
            FUnstored.insert(line.substr(2));
        } else if (line.rfind(kHandOverPrefix, 0) == 0) {
            FHandOver.insert(line.substr(2));
        } else if (line.rfind(kClearUnstoredPrefix, 0) == 0) {
            FUnstored.erase(line.substr(3));
        } else if (line.rfind(kClearHandOverPrefix, 0) == 0) {
            FHandOver.erase(line.substr(3));
        } else if (!line.empty()) {
            const auto [key, check] = AtTab(line);
            const auto [size, messageId] = AtTab(check);
            FKeys[key] = {SizeText(size), messageId};
        }
    }
    FRewrite = from != text.size();
}

bool TRetrievalJournal::Matches(const TJournalLetter& letter) const {
    const auto it = FKeys.find(letter.Key);
    if (letter.Key.empty() || it == FKeys.end())
        return false;
    const TKeyCheck& was = it->second;
    const std::string id = TrimmedId(letter.MessageId);
    return (was.Size < 0 || letter.Size < 0 || was.Size == letter.Size) &&
           (was.MessageId.empty() || id.empty() || was.MessageId == id);
}

bool TRetrievalJournal::ContainsCopy(const TJournalLetter& letter) const {
    const std::string id = TrimmedId(letter.MessageId);
    if (id.empty() || letter.Fingerprint.empty())
        return false;
    const auto it = FMessageIds.find(id);
    return it != FMessageIds.end() && it->second.Fingerprint == letter.Fingerprint;
}

void TRetrievalJournal::Record(const TJournalLetter& letter, std::time_t now) {
    const std::string id = TrimmedId(letter.MessageId);
    std::string lines;
    if (!letter.Key.empty()) {
        const auto [entry, inserted] = FKeys.try_emplace(letter.Key);
        TKeyCheck& check = entry->second;
        if (inserted || check.Size != letter.Size || check.MessageId != id)
            lines += KeyLine(letter.Key, letter.Size, id);
        check = {letter.Size, id};
        if (FHandOver.erase(letter.Key) != 0)
            lines += kClearHandOverPrefix + letter.Key + "\r\n";
    }
    const std::string fingerprint = OneLine(letter.Fingerprint);
    const auto known = FMessageIds.find(id);
    if (!id.empty() && (known == FMessageIds.end() || known->second.Fingerprint != fingerprint)) {
        FMessageIds[id] = {now, fingerprint};
        lines += IdLine(id, now, fingerprint);
    }
    Append(lines);
}

void TRetrievalJournal::MarkHandOver(const std::string& key, bool begun) {
    Mark(FHandOver, begun ? kHandOverPrefix : kClearHandOverPrefix, key, begun);
}

void TRetrievalJournal::MarkUnstored(const std::string& key, bool unstored) {
    Mark(FUnstored, unstored ? kUnstoredPrefix : kClearUnstoredPrefix, key, unstored);
}

void TRetrievalJournal::Mark(std::set<std::string>& marks, const char* prefix,
                             const std::string& key, bool on) {
    if (key.empty())
        return;
    const bool changed = on ? marks.insert(key).second : marks.erase(key) != 0;
    if (changed)
        Append(prefix + key + "\r\n");
}

void TRetrievalJournal::Append(const std::string& lines) {
    if (lines.empty())
        return;
    FLines += static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n'));
    const size_t entries = FKeys.size() + FUnstored.size() + FHandOver.size() + FMessageIds.size();
    if (FRewrite || FLines > entries + kMaxStaleLines) {
        Save();
        return;
    }
    // One write of whole lines: a crash keeps them all, none, or a cut last line that Load
    // drops. The file stays open between rewrites: a session appends to it twice a letter.
    // One that was removed meanwhile is not written to: its lines would be lost with it.
    struct stat st {};
    if (FAppendFd >= 0 && (::fstat(FAppendFd, &st) != 0 || st.st_nlink == 0))
        CloseAppend();
    if (FAppendFd < 0)
        FAppendFd = ::open(NativePath(FFileName).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (FAppendFd < 0 || !WriteAllTo(FAppendFd, lines)) {
        // What may have reached the file is cut off by the rewrite.
        FRewrite = true;
        Save();
        return;
    }
    SyncFile(FFileName);
}

void TRetrievalJournal::Prune(const std::set<std::string>& listed, std::time_t now) {
    bool removed = false;
    const auto unlisted = [&](const std::string& key) { return listed.count(key) == 0; };
    removed |= std::erase_if(FKeys, [&](const auto& entry) { return unlisted(entry.first); }) > 0;
    removed |= std::erase_if(FUnstored, unlisted) > 0;
    removed |= std::erase_if(FHandOver, unlisted) > 0;
    const std::time_t oldest = now - static_cast<std::time_t>(kMessageIdDays) * 24 * 60 * 60;
    for (auto it = FMessageIds.begin(); it != FMessageIds.end();) {
        if (it->second.Recorded < oldest) {
            it = FMessageIds.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (removed)
        Save();
}

TRetrievalJournal::~TRetrievalJournal() {
    CloseAppend();
}

void TRetrievalJournal::CloseAppend() {
    if (FAppendFd >= 0)
        ::close(FAppendFd);
    FAppendFd = -1;
}

void TRetrievalJournal::Save() {
    // The descriptor kept for appending would name the file this replaces.
    CloseAppend();
    // A half-written journal would forget letters already imported: write beside it, then
    // replace it in one step.
    const std::string temp = FFileName + "." + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(NativePath(temp), std::ios::binary | std::ios::trunc);
        for (const auto& [key, check] : FKeys)
            out << KeyLine(key, check.Size, check.MessageId);
        for (const std::string& key : FUnstored)
            out << kUnstoredPrefix << key << "\r\n";
        for (const std::string& key : FHandOver)
            out << kHandOverPrefix << key << "\r\n";
        for (const auto& [id, entry] : FMessageIds)
            out << IdLine(id, entry.Recorded, entry.Fingerprint);
        out.close();
        if (!out) {
            DeleteFile(temp);
            throw std::runtime_error("Cannot write file \"" + FFileName + "\"");
        }
    }
    try {
        SyncFile(temp);
    } catch (const std::exception&) {
        DeleteFile(temp);
        throw;
    }
    if (!MoveFileReplace(temp, FFileName)) {
        DeleteFile(temp);
        throw std::runtime_error("Cannot write file \"" + FFileName + "\"");
    }
    FRewrite = false;
    FLines = FKeys.size() + FUnstored.size() + FHandOver.size() + FMessageIds.size();
    // The renamed entry too; inside a session's group both wait for its barrier.
    try {
        SyncFolder(NativePath(FFileName).parent_path().string());
    } catch (const std::exception&) {
        // The journal is complete under its name; a lost entry only forgets the latest keys.
    }
}

} // namespace tzn
