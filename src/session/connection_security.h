// How the settings protect the two mail connections: the security word of a server's key
// (SMTPSecurity or POP3Security) and the trusted certificates (CAFile), as the mail clients
// take them.
#pragma once

#include "mail/tls_options.h"
#include "module/settings.h"

#include <string>

namespace tzn {

// The options for one server. A word the clients do not know is an error naming the key,
// never a quiet fall-back to plain text.
TMxTLSOptions TlsOptionsFromSettings(const std::string& security, const char* key,
                                     const MailSettings& settings);

} // namespace tzn
