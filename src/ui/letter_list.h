// The texts of the mailbox window's letter list: the "Saved" and "Size" columns, written with
// the regional settings (month names, decimal separator) the way the user reads them.
#pragma once

#include "platform/datetime.h"

#include <cstdint>
#include <string>

namespace tzn {

// "dd mmm yyyy, hh:nn" with the locale's short month name (CP1251).
std::string FormatSavedDate(TDateTime date);

// Bytes as kilobytes rounded to two decimals (an exact half to the even neighbour), in the
// shortest form with the locale's decimal separator, then " кб" (CP1251): 1536 -> "1,5 кб".
std::string FormatLetterSize(int64_t bytes);

} // namespace tzn
