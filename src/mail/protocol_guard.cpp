#include "mail/protocol_guard.h"

#include <string>

#include "mail/exceptions.h"

namespace tzn {

namespace {

bool BreaksLine(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

} // namespace

void CheckCommandLine(std::string_view line) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos)
        return;
    // Only the verb goes into the message: the argument may be a password.
    size_t end = 0;
    while (end < line.size() && line[end] != ' ' && !BreaksLine(line[end]))
        ++end;
    throw EMxInvalidCommandArgument(std::string(line.substr(0, end)));
}

void CheckCapabilityCount(size_t entries) {
    if (entries > kMxMaxCapabilities)
        throw EMxTooManyCapabilities(kMxMaxCapabilities);
}

} // namespace tzn
