#include "session/mailbox_journal.h"

#include "mail/pop3.h"
#include "platform/cp1251.h"

#include <exception>

namespace tzn {

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
                           const std::string& user) {
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
    for (const auto& [num, uid] : FUids)
        listed.insert(JournalKeyByUid(uid));
    Write([&](TRetrievalJournal& j) { j.Prune(listed); });
}

std::string TMailboxJournal::KeyOf(int msgNum, const std::string& messageId, int64_t size) const {
    if (FByUid) {
        const auto it = FUids.find(msgNum);
        return it == FUids.end() ? std::string() : JournalKeyByUid(it->second);
    }
    return size < 0 ? std::string() : JournalKeyByMessageId(messageId, size);
}

bool TMailboxJournal::Imported(const std::string& key, const std::string& messageId) const {
    if (!FJournal)
        return false;
    return (!key.empty() && FJournal->Contains(key)) || FJournal->ContainsMessageId(messageId);
}

void TMailboxJournal::Record(const std::string& key, const std::string& messageId) {
    Write([&](TRetrievalJournal& j) { j.Record(key, messageId); });
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
}

} // namespace tzn
