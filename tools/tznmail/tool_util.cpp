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

} // namespace tzn::tool
