// What the mailbox window's letter commands do to the store beyond single-file deletes: the
// move of a sent letter back to OutBox, and the processing of selected received letters.
#pragma once

#include "platform/datetime.h"
#include "store/letter_files.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tzn {

class TWindowServices;
struct TLocalSide;

// Moves MailDir + `from` + fileName into OutBox under its own name, or, when OutBox already
// holds a letter of that name, under a fresh letter name: a letter is never overwritten. The
// letter gets a new Message-ID first (a resent letter is a new letter; named as this side's
// letters are, `stationCode` standing in for a working address without a domain). False when
// nothing was moved (missing file, failure); the source then stays in place.
bool MoveLetterToOutBox(const std::string& fileName, MailFolder from,
                        const std::string& stationCode);

// Hands the InBox letters `names` to `side`'s host again: one alone as it is; several in the
// groups and order of ProcessingGroups, each processed letter noted in the activity log.
// Failures are logged there; a failing group does not stop the next.
void ProcessInBoxLetters(const std::vector<std::string>& names, const TLocalSide& side,
                         TWindowServices& services);

// One selected received letter, as the processing command sees it.
struct TProcessCandidate {
    std::string Sender; // the sender's combined text
    TDateTime Date = 0;
    std::string FileName;
};

// Groups for processing, each a list of indices into `selected` in the order to process:
// sorted by sender (case-insensitive, stable, so equal senders keep the selection order),
// grouped by exactly equal sender text, each group ordered by OrderGroupByDate. Every index
// appears exactly once.
std::vector<std::vector<std::size_t>>
ProcessingGroups(const std::vector<TProcessCandidate>& selected);

// Orders one group by Date, newest first; equal dates keep their order. Any group size is
// ordered in full.
void OrderGroupByDate(std::vector<std::size_t>& group,
                      const std::vector<TProcessCandidate>& selected);

} // namespace tzn
