// Reading a letter through a line I/O handler: the header block (also alone, for header
// scans and POP3 "TOP"), and the body with its parts decoded; stored-message files and
// streams. Attachments are decoded line by line into temporary files, never held whole in
// memory. The pieces: body_reader.h reads the body and its parts, part_sinks.h is where the
// decoded bytes go, header_params.h and mail_date.h read structured header values.
#pragma once

#include <iosfwd>
#include <string>

#include "mail/io_handler.h"
#include "mail/message.h"
#include "mail/mime_boundary.h"

namespace tzn {

// Reads one letter. The state of reading (the multiparts open at the current line) belongs
// to the reader, not to the letter.
class TMxMessageReader {
public:
    TMxMessageReader(TMxIOHandler& io, TMxMessage& msg) : FIo(io), FMsg(msg) {}

    // Reads header lines into msg.Headers up to the delimiter line (empty delimiter: a blank
    // line or "."), then ParseHeaders. Returns the line that ended the header: empty when a
    // blank line did, so a body follows.
    std::string ReadHeaderBlock(const std::string& delimiter);
    // Reads the rest of the letter up to the delimiter line (".") into Body and parts, the
    // multipart structure starting from the boundary in msg.Headers. A letter that ends
    // inside a part header raises EMxException "Unknown Message Part Type.".
    void ReadBodyBlock(const std::string& delimiter);
    // The multiparts still open where the body reading stopped, innermost last.
    const TMxMIMEBoundary& OpenBoundaries() const { return FBoundaries; }

private:
    TMxIOHandler& FIo;
    TMxMessage& FMsg;
    TMxMIMEBoundary FBoundaries;
};

// One-shot forms of the reader's two steps.
std::string ReadHeaderBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter);
void ReadBodyBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter);
// Fills the letter's fields from msg.Headers.
void ParseHeaders(TMxMessage& msg);

// Clears the letter and reads it. A missing file raises EMxMessageCannotLoad "Cannot load
// message from file %s". With headersOnly only the header block is read (the body is never
// touched): the fast load for folder scans.
void ReadMessageFile(TMxMessage& msg, const std::string& path, bool headersOnly = false);
void ReadMessageStream(TMxMessage& msg, std::istream& in, bool headersOnly = false);

} // namespace tzn
