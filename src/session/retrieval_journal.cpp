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
        if (!line.empty())
            FKeys.insert(line);
    }
    if (in.bad())
        throw std::runtime_error("Cannot read file \"" + FFileName + "\"");
}

void TRetrievalJournal::Record(const std::string& key) {
    if (key.empty() || !FKeys.insert(key).second)
        return;
    Save();
}

void TRetrievalJournal::Prune(const std::set<std::string>& listed) {
    bool removed = false;
    for (auto it = FKeys.begin(); it != FKeys.end();) {
        if (listed.count(*it) == 0) {
            it = FKeys.erase(it);
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
