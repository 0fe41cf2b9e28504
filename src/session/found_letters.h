// The letters a sorted retrieval collects in its header pass, and their processing order:
// sender by sender in the order the senders were first met, each sender's letters oldest
// first.
#pragma once

#include "platform/datetime.h"

#include <array>
#include <cstdint>
#include <string>

namespace tzn {

struct TFoundLetter {
    int32_t MsgNum = 0;
    std::string SenderName; // display name of From, compared exactly
    TDateTime Date = 0;     // 0 when the letter has no readable date
};

// A fixed table of 201 entries; a run handles at most that many letters.
class TFoundLetters {
public:
    static constexpr int kCapacity = 201;

    int Count() const { return FCount; }
    const TFoundLetter& operator[](int i) const { return FEntries.at(static_cast<size_t>(i)); }
    // Stores at index Count; std::out_of_range when the table is full.
    void Add(const TFoundLetter& letter);
    void Clear() { FCount = 0; }

private:
    friend void SortFoundLetters(TFoundLetters& letters, TDateTime now);
    std::array<TFoundLetter, kCapacity> FEntries;
    int FCount = 0;
};

// Groups by sender (exact, case-sensitive), senders in order of first appearance; within a
// sender ascending date, equal dates in collection order. A letter dated 10000 days or more
// after `now` is dropped from the table (it is never picked, so it stays on the server).
void SortFoundLetters(TFoundLetters& letters, TDateTime now);

} // namespace tzn
