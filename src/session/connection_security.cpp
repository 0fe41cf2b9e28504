#include "session/connection_security.h"

#include <stdexcept>

namespace tzn {

TMxTLSOptions TlsOptionsFromSettings(const std::string& security, const char* key,
                                     const MailSettings& settings) {
    TMxTLSOptions options;
    if (!TryTlsModeFromName(security, options.Mode))
        throw std::runtime_error(std::string(key) + " \"" + security +
                                 "\" is not one of none, starttls, tls, auto");
    options.CAFile = settings.CAFile;
    return options;
}

} // namespace tzn
