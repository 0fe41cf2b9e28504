// Writing a letter through a line I/O handler: the same text goes to a stored-message file
// and, between SMTP "DATA" and ".", to the wire. Attachment content is streamed from its file.
#pragma once

#include <string>

#include "mail/io_handler.h"
#include "mail/message.h"

namespace tzn {

// NoEncode: the raw Headers, a blank line and (unless headersOnly) the Body. Otherwise
// WriteHeaderBlock and, unless headersOnly, WriteBodyBlock. No final "." is written.
void TransmitMessage(TMxIOHandler& io, TMxMessage& msg, bool headersOnly = false);
// BuildHeaders, then the generated header lines.
void WriteHeaderBlock(TMxIOHandler& io, TMxMessage& msg);
// Everything after the header lines (blank line, preamble, parts, closing boundaries).
void WriteBodyBlock(TMxIOHandler& io, TMxMessage& msg);

// "Thu, 5 Dec 2024 14:30:05 +0300": local clock time with the machine's UTC offset.
std::string FormatMailDate(TDateTime dt);
// An address list for a generated header: names quoted or header-encoded, ", " between.
std::string EncodeAddresses(const TMxEMailAddressList& list, bool nameFromAddress = false);

} // namespace tzn
