// Writing a letter: the same text goes to a stored-message file and, between SMTP "DATA" and
// ".", to the wire. Attachment content is streamed from its file. How a letter is written is
// an option of each write, never a process-wide state, so letters written at the same time
// on different threads do not affect each other.
#pragma once

#include <iosfwd>
#include <string>

#include "mail/header_list.h"
#include "mail/io_handler.h"
#include "mail/message.h"

namespace tzn {

struct TMxWriteOptions {
    // Header texts that need it as encoded words; false: raw 8-bit text, as a delivery run
    // sends its letters.
    bool EncodeHeaderWords = true;
    // "Bcc" is written: a stored-message file keeps blind copies, the wire never carries them.
    bool WriteBcc = false;
    // Only the header block (no body, no final ".").
    bool HeadersOnly = false;
    // When set, header words that are not ASCII go out one by one as encoded words with this
    // label (ASCII words as they are), whatever EncodeHeaderWords says.
    std::string HeaderCharSet = {};
    // When set, 8-bit text parts without a character set of their own are labelled with it.
    std::string TextCharSet = {};
};

// The header list generated from the letter's fields, starting from its raw Headers. Fills
// in what the letter leaves open (Encoding, ContentType, the parts' transfer encodings).
TMxHeaderList BuildHeaders(TMxMessage& msg, const TMxWriteOptions& options = {});

// NoEncode: the raw Headers, a blank line and (unless headers only) the Body. Otherwise
// WriteHeaderBlock and, unless headers only, WriteBodyBlock. No final "." is written.
void TransmitMessage(TMxIOHandler& io, TMxMessage& msg, const TMxWriteOptions& options = {});
// BuildHeaders, then the generated header lines.
void WriteHeaderBlock(TMxIOHandler& io, TMxMessage& msg, const TMxWriteOptions& options = {});
// Everything after the header lines (blank line, preamble, parts, closing boundaries). A
// text line longer than a mail line may be (998 bytes) makes its part quoted-printable.
void WriteBodyBlock(TMxIOHandler& io, TMxMessage& msg, const TMxWriteOptions& options = {});

// The letter and, unless headers only, the final "." line. A file is created or truncated,
// always keeps Bcc, and is deleted again when writing fails, since a half-written letter
// would later load as a shorter, seemingly whole one.
void WriteMessageFile(TMxMessage& msg, const std::string& path, TMxWriteOptions options = {});
void WriteMessageStream(TMxMessage& msg, std::ostream& out, const TMxWriteOptions& options = {});

} // namespace tzn
