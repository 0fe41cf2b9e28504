// What several command groups of the tool share.
#pragma once

#include "mail/tls_options.h"
#include "module/settings.h"

#include <string>

namespace tzn::tool {

// Reads the settings as the module does and returns them. A failed read the module would
// only log is shown as a warning; a failure the module cannot read past is thrown.
MailSettings LoadSettingsWithWarning();

// The TLS options of one server: `security` is the value of the settings key `key`
// (SMTPSecurity or POP3Security), CAFile the trusted certificates. A value the mail layer
// does not know is an error rather than a quiet fall-back to clear text.
TMxTLSOptions TlsOptionsFromSettings(const std::string& security, const char* key,
                                     const MailSettings& s);

} // namespace tzn::tool
