#include "tool_util.h"

#include "platform/cp1251.h"
#include "session/session_state.h"

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

bool LockMailFolder(TFolderLock& lock, const MailSettings& s) {
    try {
        if (lock.Acquire(s.MailDir, kMailFolderLockName, s.MailFolderWait * 1000))
            return true;
        std::fprintf(stderr, "tznmail: the mail folder is in use by another session: %s\n",
                     Utf8FromCp1251(s.MailDir).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
    }
    return false;
}

} // namespace tzn::tool
