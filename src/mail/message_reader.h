// Reading a letter through a line I/O handler: the header block (also alone, for header
// scans and POP3 "TOP"), and the body with its parts decoded. Attachments are decoded line
// by line into temporary files, never held whole in memory.
#pragma once

#include <string>

#include "mail/io_handler.h"
#include "mail/message.h"

namespace tzn {

// Reads header lines into msg.Headers up to the delimiter line (empty delimiter: a blank line
// or "."), then ParseHeaders. Returns the line that ended the header: empty when a blank line
// did, so a body follows.
std::string ReadHeaderBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter);
// Fills the letter's fields from msg.Headers.
void ParseHeaders(TMxMessage& msg);
// Reads the rest of the letter up to the delimiter line (".") into Body and parts.
// A letter that ends inside a part header raises EMxException "Unknown Message Part Type.".
void ReadBodyBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter);

// Reads a "Date" header value; 0 when unreadable. The zone is ignored: the clock time comes
// back as written. Two-digit years below 80 are 20xx, 80-99 are 19xx.
TDateTime ParseMailDate(const std::string& value);

// The parameter `param` ("charset", "boundary", "name", "filename") of a header value;
// names case-insensitive, a quoted value up to its closing quote.
std::string HeaderParam(const std::string& value, const std::string& param);

} // namespace tzn
