// What the protocol clients refuse: a command line that would smuggle a second command to the
// server, and replies or capability lists that would grow without end.
#pragma once

#include <cstddef>
#include <string_view>

namespace tzn {

// Lines one server reply may have (more: EMxReplyTooLong). Real multi-line replies (EHLO,
// EXPN) have a few dozen.
inline constexpr size_t kMxMaxReplyLines = 1000;
// Entries of a capability list (EHLO keywords, CAPA lines); real servers send about ten.
inline constexpr size_t kMxMaxCapabilities = 100;

// Raises EMxInvalidCommandArgument, naming the command (the line's first word), when `line`
// holds CR, LF or NUL: the server would take what follows for a command of its own.
void CheckCommandLine(std::string_view line);

// Raises EMxTooManyCapabilities when a capability list has grown past kMxMaxCapabilities.
void CheckCapabilityCount(size_t entries);

} // namespace tzn
