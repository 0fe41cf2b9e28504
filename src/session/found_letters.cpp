#include "session/found_letters.h"

#include <stdexcept>
#include <vector>

namespace tzn {

void TFoundLetters::Add(const TFoundLetter& letter) {
    if (FCount >= kCapacity)
        throw std::out_of_range("Range check error");
    FEntries[static_cast<size_t>(FCount)] = letter;
    ++FCount;
}

namespace {

struct TGroupItem {
    TDateTime Date;
    int32_t MsgNum;
    bool Taken = false;
};

struct TSenderGroup {
    std::string SenderName;
    std::vector<TGroupItem> Items;
    std::vector<TGroupItem> Ordered;
};

} // namespace

void SortFoundLetters(TFoundLetters& letters, TDateTime now) {
    std::vector<TSenderGroup> groups;
    for (int i = 0; i < letters.FCount; ++i) {
        const TFoundLetter& f = letters.FEntries[static_cast<size_t>(i)];
        TSenderGroup* group = nullptr;
        for (TSenderGroup& g : groups)
            if (g.SenderName == f.SenderName) {
                group = &g;
                break;
            }
        if (!group)
            group = &groups.emplace_back(TSenderGroup{f.SenderName, {}, {}});
        group->Items.push_back({f.Date, f.MsgNum});
    }
    // A selection by strictly smaller date keeps equal dates in collection order; the limit
    // leaves far-future dates unpicked.
    const TDateTime limit = now + 10000;
    for (TSenderGroup& g : groups) {
        for (size_t round = 0; round < g.Items.size(); ++round) {
            TGroupItem* best = nullptr;
            TDateTime bestDate = limit;
            for (TGroupItem& item : g.Items)
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
    for (const TSenderGroup& g : groups)
        for (const TGroupItem& item : g.Ordered)
            letters.FEntries[static_cast<size_t>(letters.FCount++)] = {item.MsgNum, g.SenderName,
                                                                       item.Date};
}

} // namespace tzn
