// The "Date" header both ways: the lenient reading of what senders write, and the one form
// this system writes.
#pragma once

#include <string>

#include "platform/datetime.h"

namespace tzn {

// Reads a "Date" header value; 0 when unreadable. The zone is ignored: the clock time comes
// back as written. Two-digit years below 80 are 20xx, 80-99 are 19xx.
TDateTime ParseMailDate(const std::string& value);

// "Thu, 5 Dec 2024 14:30:05 +0300": local clock time with the machine's UTC offset.
std::string FormatMailDate(TDateTime dt);

} // namespace tzn
