// The body of a letter after its header: plain lines, embedded uuencoded files, or the MIME
// parts, each decoded line by line into the letter (texts) or a temporary file (attachments).
#pragma once

#include <string>

#include "mail/io_handler.h"
#include "mail/message.h"
#include "mail/mime_boundary.h"

namespace tzn {

// Reads up to the delimiter line into msg.Body and msg.MessageParts. `boundaries` holds the
// multiparts open at the start (the letter's own, if any) and on return those still open.
// A letter that ends inside a part header raises EMxException "Unknown Message Part Type.";
// a letter past a limit EMxLimitExceeded, keeping the parts read so far.
void ReadMessageBody(TMxIOHandler& io, TMxMessage& msg, TMxMIMEBoundary& boundaries,
                     const std::string& delimiter);

} // namespace tzn
