#include "session/found_letters.h"

#include <stdexcept>
#include <vector>

namespace tzn {

void FoundLetters::Add(const FoundLetter& letter) {
    if (FCount >= kCapacity)
        throw std::out_of_range("Range check error");
    FEntries[static_cast<size_t>(FCount)] = letter;
    ++FCount;
}

namespace {

struct GroupItem {
    TDateTime Date;
    int32_t MsgNum;
    bool Taken = false;
};

struct SenderGroup {
    std::string SenderName;
    std::vector<GroupItem> Items;
    std::vector<GroupItem> Ordered;
};

} // namespace

void SortFoundLetters(FoundLetters& letters, TDateTime now) {
    std::vector<SenderGroup> groups;
    for (int i = 0; i < letters.FCount; ++i) {
        const FoundLetter& f = letters.FEntries[static_cast<size_t>(i)];
        SenderGroup* group = nullptr;
        for (SenderGroup& g : groups)
            if (g.SenderName == f.SenderName) {
                group = &g;
                break;
            }
        if (!group)
            group = &groups.emplace_back(SenderGroup{f.SenderName, {}, {}});
        group->Items.push_back({f.Date, f.MsgNum});
    }
    // A selection by strictly smaller date keeps equal dates in collection order; the limit
    // leaves far-future dates unpicked.
    const TDateTime limit = now + 10000;
    for (SenderGroup& g : groups) {
        for (size_t round = 0; round < g.Items.size(); ++round) {
            GroupItem* best = nullptr;
            TDateTime bestDate = limit;
            for (GroupItem& item : g.Items)
                if (!item.Taken && item.Date < bestDate) {
                    best = &item;
                    bestDate = item.Date;
                }
            if (best) {
                g.Ordered.push_back(*best);
                best->Taken = true;
            }
        }
    }
    letters.FCount = 0;
    for (const SenderGroup& g : groups)
        for (const GroupItem& item : g.Ordered)
            letters.FEntries[static_cast<size_t>(letters.FCount++)] = {item.MsgNum, g.SenderName,
                                                                       item.Date};
}

} // namespace tzn
