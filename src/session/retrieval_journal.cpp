#include "session/retrieval_journal.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <fstream>
#include <stdexcept>
#include <unistd.h>

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

// Keys live one per line: line breaks inside one would split it.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

// Message-ID lines: "I <recorded, seconds since 1970> <id>"; "S <key>" marks an imported
// letter whose InBox copy is still to be made; other lines are keys ("U ..." or "M ...").
// Files written before the ids and marks were kept hold keys only and load unchanged.
constexpr const char* kIdPrefix = "I ";
constexpr const char* kUnstoredPrefix = "S ";

std::string TrimmedId(const std::string& messageId) {
    const std::string id = OneLine(messageId);
    const size_t first = id.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return id.substr(first, id.find_last_not_of(" \t") - first + 1);
}

// False when the line is not a well-formed id line.
bool ParseIdLine(const std::string& line, std::string& id, std::time_t& recorded) {
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
    FMessageIds.clear();
    const auto native = NativePath(FFileName);
    if (!FileExists(FFileName))
        return;
    std::ifstream in(native, std::ios::binary);
    if (!in)
        throw std::runtime_error("Cannot open file \"" + FFileName + "\"");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string id;
        std::time_t recorded = 0;
        if (ParseIdLine(line, id, recorded))
            FMessageIds[id] = recorded;
        else if (line.rfind(kUnstoredPrefix, 0) == 0)
            FUnstored.insert(line.substr(2));
        else if (!line.empty())
            FKeys.insert(line);
    }
    if (in.bad())
        throw std::runtime_error("Cannot read file \"" + FFileName + "\"");
}

bool TRetrievalJournal::ContainsMessageId(const std::string& messageId) const {
    const std::string id = TrimmedId(messageId);
    return !id.empty() && FMessageIds.count(id) != 0;
}

void TRetrievalJournal::Record(const std::string& key, const std::string& messageId,
                               std::time_t now) {
    bool added = !key.empty() && FKeys.insert(key).second;
    const std::string id = TrimmedId(messageId);
    if (!id.empty() && FMessageIds.count(id) == 0) {
        FMessageIds[id] = now;
        added = true;
    }
    if (added)
        Save();
}

void TRetrievalJournal::MarkUnstored(const std::string& key, bool unstored) {
    if (key.empty())
        return;
    const bool changed = unstored ? FUnstored.insert(key).second : FUnstored.erase(key) != 0;
    if (changed)
        Save();
}

void TRetrievalJournal::Prune(const std::set<std::string>& listed, std::time_t now) {
    bool removed = false;
    for (std::set<std::string>* keys : {&FKeys, &FUnstored}) {
        for (auto it = keys->begin(); it != keys->end();) {
            if (listed.count(*it) == 0) {
                it = keys->erase(it);
                removed = true;
            } else {
                ++it;
            }
        }
    }
    const std::time_t oldest = now - static_cast<std::time_t>(kMessageIdDays) * 24 * 60 * 60;
    for (auto it = FMessageIds.begin(); it != FMessageIds.end();) {
        if (it->second < oldest) {
            it = FMessageIds.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (removed)
        Save();
}

void TRetrievalJournal::Save() const {
    // A half-written journal would forget letters already imported: write beside it, then
    // replace it in one step.
    const std::string temp = FFileName + "." + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(NativePath(temp), std::ios::binary | std::ios::trunc);
        for (const std::string& key : FKeys)
            out << key << "\r\n";
        for (const std::string& key : FUnstored)
            out << kUnstoredPrefix << key << "\r\n";
        for (const auto& [id, recorded] : FMessageIds)
            out << kIdPrefix << static_cast<long long>(recorded) << ' ' << id << "\r\n";
        out.close();
        if (!out) {
            DeleteFile(temp);
            throw std::runtime_error("Cannot write file \"" + FFileName + "\"");
        }
    }
    if (!MoveFileReplace(temp, FFileName)) {
        DeleteFile(temp);
        throw std::runtime_error("Cannot write file \"" + FFileName + "\"");
    }
}

} // namespace tzn
