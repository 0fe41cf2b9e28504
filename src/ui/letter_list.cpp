#include "ui/letter_list.h"

#include "platform/cp1251.h"

namespace tzn {

std::string FormatSavedDate(TDateTime date) {
    return FormatDateTime("dd mmm yyyy, hh:nn", date);
}

std::string FormatLetterSize(int64_t bytes) {
    // Whole hundredths of a kilobyte, rounded in integers: a binary double would turn some
    // exact halves (128 bytes is exactly 0.125 kB) into near-halves rounded the wrong way.
    const int64_t numerator = (bytes < 0 ? 0 : bytes) * 100;
    int64_t hundredths = numerator / 1024;
    const int64_t rest = numerator % 1024;
    if (rest * 2 > 1024 || (rest * 2 == 1024 && hundredths % 2 != 0))
        ++hundredths;
    std::string text = std::to_string(hundredths / 100);
    const int64_t fraction = hundredths % 100;
    if (fraction != 0) {
        text += Formats().DecimalSeparator;
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0)
            text += static_cast<char>('0' + fraction % 10);
    }
    return text + ru(" кб");
}

} // namespace tzn
