// The size of a letter in stored-message form, measured by writing it into a sink that only
// counts: a large attachment is streamed from its file and never held in memory.
#pragma once

#include "mail/message_writer.h"

#include <cstdint>

namespace tzn {

// Bytes of the whole letter (headers, body, the final "." line) as the writer produces it
// with these options.
int64_t MeasureLetter(TMxMessage& letter, const TMxWriteOptions& options);

} // namespace tzn
