#include "session/wire_form.h"

namespace tzn {

namespace {
// Every text this system writes is Windows-1251.
constexpr const char* kLetterCharSet = "windows-1251";
} // namespace

TMxWriteOptions DeliveryWriteOptions(const MailSettings& settings) {
    TMxWriteOptions options;
    // Servers hide, refuse or spoil raw 8-bit headers; a network whose peers read nothing
    // else can keep them with the setting.
    options.EncodeHeaderWords = false;
    if (!settings.RawHeaders)
        options.HeaderCharSet = kLetterCharSet;
    options.TextCharSet = kLetterCharSet;
    return options;
}

} // namespace tzn
