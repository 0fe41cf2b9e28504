#include "session/mailbox_journal.h"

#include "mail/message.h"
#include "mail/message_limits.h"
#include "mail/pop3.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <cctype>
#include <exception>
#include <fstream>
#include <set>
#include <unistd.h>

namespace tzn {
namespace {

// The memory of letters not ours: "TAG <tag>" then one unique id per line. A file for another
// tag, or one that cannot be read, is no memory at all (the headers are simply fetched).
std::set<std::string> LoadNotOurs(const std::string& file, const std::string& tag) {
    std::set<std::string> ids;
    std::ifstream in(NativePath(file), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != "TAG " + tag)
        return ids;
    while (ids.size() < static_cast<size_t>(kMxPOP3MaxMessages) && std::getline(in, line))
        if (!line.empty())
            ids.insert(line);
    if (in.bad())
        ids.clear();
    return ids;
}

// Written beside and renamed over: a reader sees the old memory or the new, never half.
void SaveNotOurs(const std::string& file, const std::string& tag,
                 const std::set<std::string>& ids) {
    const std::string temp = file + "." + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(NativePath(temp), std::ios::binary | std::ios::trunc);
        out << "TAG " << tag << "\n";
        for (const std::string& id : ids)
            out << id << "\n";
        out.close();
        if (!out) {
            DeleteFile(temp);
            return;
        }
    }
    if (!MoveFileReplace(temp, file))
        DeleteFile(temp);
}

} // namespace

std::string LetterFingerprint(TMxMessage& letter) {
    // FNV-1a, 64 bits: a hash to tell letters apart, not to stand up to an attacker (one who
    // forges a colliding letter could as well forge the letter).
    uint64_t hash = 1469598103934665603ULL;
    const auto add = [&hash](const std::string& text) {
        for (unsigned char c : text)
            hash = (hash ^ c) * 1099511628211ULL;
        hash = (hash ^ 0xFFU) * 1099511628211ULL; // field separator
    };
    std::string sender = letter.From().Address;
    for (char& c : sender)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    add(sender);
    add(letter.Subject);
    int64_t bodySize = 0;
    for (const std::string& line : letter.Body)
        bodySize += static_cast<int64_t>(line.size()) + 2;
    add(std::to_string(bodySize));
    for (size_t i = 0; i < letter.MessageParts.Count(); ++i) {
        const TMxMessagePart& part = letter.MessageParts[i];
        if (const auto* file = part.AsAttachment()) {
            add(file->PartFileName + "/" + std::to_string(file->ContentSize()));
        } else if (const auto* text = part.AsText()) {
            int64_t size = 0;
            for (const std::string& line : text->Body)
                size += static_cast<int64_t>(line.size()) + 2;
            add("text/" + std::to_string(size));
        }
    }
    static const char* const digits = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        out[static_cast<size_t>(i)] = digits[hash & 0xF];
    return out;
}

void TMailboxJournal::Report(const std::string& error) const {
    if (FLog)
        FLog(ru("Ошибка журнала принятых писем: ") + error);
}

void TMailboxJournal::Write(const std::function<void(TRetrievalJournal&)>& change) {
    if (!FJournal)
        return;
    try {
        change(*FJournal);
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

void TMailboxJournal::Open(TMxPOP3& pop, const std::string& mailDir, const std::string& host,
                           const std::string& user, const std::string& tag) {
    try {
        FJournal.emplace(mailDir, host, user);
        FJournal->Load();
    } catch (const std::exception& e) {
        FJournal.reset();
        Report(e.what());
        return;
    }
    // Connection errors of the listing belong to the retrieval: they go on to its handler.
    FByUid = pop.UniqueIds(FUids);
    if (!FByUid)
        return;
    std::set<std::string> listed;
    for (const auto& [num, uid] : FUids) {
        if (!listed.insert(JournalKeyByUid(uid)).second) {
            // Two letters under one id: its ids name no letter for certain, so this session
            // keys by Message-ID and size and prunes nothing by them.
            FByUid = false;
            FUids.clear();
            if (FLog)
                FLog(ru("Сервер назвал несколько писем одним кодом (UIDL), письма опознаются "
                        "по Message-ID и размеру"));
            return;
        }
    }
    Write([&](TRetrievalJournal& j) { j.Prune(listed); });
    if (!tag.empty() && FJournal) {
        FTag = tag;
        FNotOursFile = FJournal->FileName();
        FNotOursFile.replace(FNotOursFile.size() - 4, 4, ".not");
        FNotOursBefore = LoadNotOurs(FNotOursFile, FTag);
    }
}

TJournalLetter TMailboxJournal::Identify(int msgNum, TMxMessage& letter, int64_t size) const {
    TJournalLetter id{{}, letter.MsgId, size, LetterFingerprint(letter)};
    if (FByUid) {
        const auto it = FUids.find(msgNum);
        if (it != FUids.end())
            id.Key = JournalKeyByUid(it->second);
    } else if (size >= 0) {
        id.Key = JournalKeyByMessageId(letter.MsgId, size);
    }
    return id;
}

bool TMailboxJournal::Imported(const TJournalLetter& letter) const {
    return FJournal && (FJournal->Matches(letter) || FJournal->ContainsCopy(letter));
}

void TMailboxJournal::Record(const TJournalLetter& letter) {
    Write([&](TRetrievalJournal& j) { j.Record(letter); });
}

void TMailboxJournal::MarkHandOver(const std::string& key, bool begun) {
    Write([&](TRetrievalJournal& j) { j.MarkHandOver(key, begun); });
}

void TMailboxJournal::MarkUnstored(const std::string& key, bool unstored) {
    Write([&](TRetrievalJournal& j) { j.MarkUnstored(key, unstored); });
}

void TMailboxJournal::Seen(const std::string& key) {
    if (key.empty())
        FMissed = true;
    else
        FSeen.insert(key);
}

void TMailboxJournal::Finish() {
    if (!FByUid && !FMissed)
        Write([&](TRetrievalJournal& j) { j.Prune(FSeen); });
    if (FByUid && !FNotOursFile.empty()) {
        // What the server still lists: the ids remembered for letters skipped this run, and
        // those judged now.
        std::set<std::string> keep = FNotOursNow;
        for (const auto& [num, uid] : FUids)
            if (FNotOursBefore.count(uid) != 0)
                keep.insert(uid);
        SaveNotOurs(FNotOursFile, FTag, keep);
    }
}

bool TMailboxJournal::KnownNotOurs(int msgNum) const {
    if (!FByUid || FNotOursBefore.empty())
        return false;
    const auto it = FUids.find(msgNum);
    return it != FUids.end() && FNotOursBefore.count(it->second) != 0;
}

void TMailboxJournal::NotOurs(int msgNum) {
    if (!FByUid || FNotOursFile.empty())
        return;
    if (const auto it = FUids.find(msgNum); it != FUids.end())
        FNotOursNow.insert(it->second);
}

} // namespace tzn
