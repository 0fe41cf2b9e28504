#include "mail/tls_options.h"

namespace tzn {

bool TryTlsModeFromName(std::string_view name, TMxTLSMode& mode) {
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
        name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (lower.empty() || lower == "auto")
        mode = TMxTLSMode::Auto;
    else if (lower == "none")
        mode = TMxTLSMode::None;
    else if (lower == "starttls")
        mode = TMxTLSMode::StartTLS;
    else if (lower == "tls")
        mode = TMxTLSMode::Implicit;
    else
        return false;
    return true;
}

} // namespace tzn
