// The header pass of a retrieval: each letter's header once, judged by its subject tag before
// anything is downloaded. Headers are asked for one at a time where the server takes one
// command at a time, and with kMxPOP3PipelineWindow commands in flight where it takes several
// (PIPELINING), so a slow line costs a round trip per window, not per letter. Letters the
// journal remembers as not ours are not asked for at all.
#pragma once

#include "platform/datetime.h"

#include <deque>
#include <string>
#include <vector>

namespace tzn {

class TMxMessage;
class TMxPOP3;
class TMailboxJournal;

// What the header pass learnt of one letter.
struct TScannedLetter {
    int MsgNum = 0;
    std::vector<std::string> Lines; // header errors and recoding notes, logged at its turn
    bool Tagged = false;            // its subject carries this side's tag
    std::string FromText;
    std::string SenderName;
    TDateTime Date = 0;
};

class THeaderScan {
public:
    // Letters `count` down to 1 of the mailbox, judged by `tag`.
    THeaderScan(TMxPOP3& pop, TMailboxJournal& journal, int count, std::string tag);

    // The next letter, in mailbox order from the last (one remembered as not ours comes
    // untagged, its header not asked for); false when none is left. Never raises: what went
    // wrong with a header is in its letter's lines.
    bool Next(TScannedLetter& letter);
    // The tagged letter Next will come to without asking the server anything first; 0 when
    // there is none yet.
    int NextTaggedAtHand() const;

private:
    // Asks for the next batch of headers and queues the batch's letters, judged.
    void FetchWindow();
    void Judge(TScannedLetter& letter, TMxMessage& header, const char* error);

    TMxPOP3& FPop;
    TMailboxJournal& FJournal;
    std::string FTag;
    std::vector<int> FNums; // every letter, last first
    size_t FNext = 0;
    bool FBroken = false; // the connection failed under a window: one at a time from then on
    std::deque<TScannedLetter> FReady;
};

} // namespace tzn
