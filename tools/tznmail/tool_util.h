// What several command groups of the tool share.
#pragma once

#include "module/settings.h"
#include "platform/folder_lock.h"

#include <string>

namespace tzn::tool {

// Reads the settings as the module does and returns them. A failed read the module would
// only log is shown as a warning; a failure the module cannot read past is thrown.
MailSettings LoadSettingsWithWarning();
// Holds the mail folder of `s` for this run, as a mail session does, waiting MailFolderWait
// seconds for another session to end; false (said on standard error) when it did not.
bool LockMailFolder(TFolderLock& lock, const MailSettings& s);

} // namespace tzn::tool
