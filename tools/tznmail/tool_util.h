// What several command groups of the tool share.
#pragma once

#include "module/settings.h"
#include "platform/folder_lock.h"

#include <exception>
#include <string>

namespace tzn {
class TMxPOP3;
class TMxSMTP;
} // namespace tzn

namespace tzn::tool {

// Reads the settings as the module does and returns them. A failed read the module would
// only log is shown as a warning; a failure the module cannot read past is thrown.
MailSettings LoadSettingsWithWarning();
// Holds the mail folder of `s` for this run, as a mail session does, waiting MailFolderWait
// seconds for another session to end; false (said on standard error) when it did not.
bool LockMailFolder(TFolderLock& lock, const MailSettings& s);

// The server, account, protection and time limits of the settings for each client.
void ConfigureSmtp(TMxSMTP& c, const MailSettings& s);
void ConfigurePop3(TMxPOP3& c, const MailSettings& s);
// A mail error for one line of the terminal (UTF-8).
std::string ErrorText(const std::exception& e);

} // namespace tzn::tool
