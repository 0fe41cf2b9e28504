#include "tool_util.h"

#include "platform/cp1251.h"

#include <cstdio>
#include <stdexcept>

namespace tzn::tool {

// The log entry is written as well when the log folder exists.
MailSettings LoadSettingsWithWarning() {
    std::string failure;
    try {
        LoadMailSettings(&failure);
    } catch (const std::exception&) {
        if (failure.empty())
            throw;
    }
    if (!failure.empty())
        std::fprintf(stderr, "tznmail: warning: %s%s\n",
                     Utf8FromCp1251(ru("Ошибка загрузки параметров Эл. почты: ")).c_str(),
                     Utf8FromCp1251(failure).c_str());
    return MailSettingsSnapshot();
}

TMxTLSOptions TlsOptionsFromSettings(const std::string& security, const char* key,
                                     const MailSettings& s) {
    TMxTLSOptions options;
    if (!TryTlsModeFromName(security, options.Mode))
        throw std::runtime_error(std::string(key) + " \"" + security +
                                 "\" is not one of none, starttls, tls, auto");
    options.CAFile = s.CAFile;
    return options;
}

} // namespace tzn::tool
