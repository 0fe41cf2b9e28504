// What the mail layer accepts from a letter or a server before it refuses: each limit bounds
// the memory or time one hostile input can take, far above anything a real letter needs.
// A letter past a limit is refused with EMxLimitExceeded naming the limit, except a large
// text part, which is kept in a file like an attachment instead of in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mail/exceptions.h"
#include "mail/text_util.h"

namespace tzn {

// One line of a letter or reply; RFC 5322 allows 998 characters, encoders write 76.
inline constexpr int kMxMaxLineLength = 16384;
// One body line: generated HTML or a CSV export may come as one long line; only the line
// being read is held whole, so this bounds the memory one line can take.
inline constexpr int kMxMaxBodyLineLength = 8 << 20;
// The header block of a letter: real ones, long trace headers included, stay below 100 KiB.
inline constexpr size_t kMxMaxHeaderBytes = 1u << 20;
// The header of one part: a few lines of Content-* fields.
inline constexpr size_t kMxMaxPartHeaderBytes = 1u << 20;
// Header lines of a letter or of one part: each is a string of its own in memory.
inline constexpr size_t kMxMaxHeaderLines = 50000;
// One header field with its continuation lines, as a mail server's header size limit.
inline constexpr size_t kMxMaxHeaderFieldBytes = 100u << 10;
// Multiparts inside multiparts: every level keeps a boundary compared with each body line.
inline constexpr size_t kMxMaxNesting = 100;
// Parts of one letter: each may own a temporary file.
inline constexpr size_t kMxMaxParts = 10000;
// Addresses in one address header: parsing and recoding each costs time (as a server's
// recipient limit).
inline constexpr size_t kMxMaxAddresses = 1000;
// Encoded words in one header value: each is decoded and may be recoded on its own.
inline constexpr size_t kMxMaxEncodedWords = 1000;
// Decoded bytes of a text part held in memory as lines (which cost about three times the
// text); a larger text part is decoded into a file like an attachment.
inline constexpr size_t kMxMaxTextPartBytes = 16u << 20;
// Decoded attachment bytes of one letter read that stay in memory (TMxMessage::MaxHeldBytes).
inline constexpr int64_t kMxMaxHeldAttachmentBytes = 1 << 20;
// Body lines outside the parts (a plain letter, a preamble) are held in memory too: a larger
// body refuses the letter.
inline constexpr size_t kMxMaxBodyBytes = 32u << 20;

// Letters of one POP3 mailbox, and so the entries of its listings (LIST, UIDL): each entry
// is held in memory, and a count beyond this is no mailbox a station or office keeps.
inline constexpr int kMxPOP3MaxMessages = 100000;
// The rest of a POP3 answer dropped after its reading failed (a header or line past its
// limit): beyond this the server is taken to send without end and the connection is closed.
inline constexpr size_t kMxMaxSkippedAnswerBytes = 64u << 20;
// The rest of a letter dropped after its header was taken from "RETR" (a server without
// "TOP"): a real letter may be large, but none a mail server accepts comes near this.
inline constexpr size_t kMxMaxSkippedLetterBytes = 1u << 30;

// A letter or header value past one of the limits above; the message names the limit.
class EMxLimitExceeded : public EMxException {
public:
    using EMxException::EMxException;
};

// A letter whose decoded parts would spool more than its reader allows
// (TMxMessage::MaxSpooledBytes): too large for this computer, not wrong in itself.
class EMxSpoolLimitExceeded : public EMxException {
public:
    using EMxException::EMxException;
};

// Holds a header block to the limits: its bytes, its lines, and the size of the field being
// read (a line and the continuation lines after it).
class TMxHeaderBudget {
public:
    TMxHeaderBudget(size_t maxBytes, const char* tooLong)
        : FMaxBytes(maxBytes), FTooLong(tooLong) {}

    // `line` is not empty.
    void Take(std::string_view line) {
        FBytes += line.size();
        if (FBytes > FMaxBytes)
            throw EMxLimitExceeded(FTooLong);
        if (++FLines > kMxMaxHeaderLines)
            throw EMxLimitExceeded("More than " + std::to_string(kMxMaxHeaderLines) +
                                   " header lines.");
        FField = IsBlank(line[0]) ? FField + line.size() : line.size();
        if (FField > kMxMaxHeaderFieldBytes)
            throw EMxLimitExceeded("Header field longer than " +
                                   std::to_string(kMxMaxHeaderFieldBytes) + " bytes.");
    }

private:
    size_t FMaxBytes;
    const char* FTooLong;
    size_t FBytes = 0;
    size_t FLines = 0;
    size_t FField = 0;
};

} // namespace tzn
