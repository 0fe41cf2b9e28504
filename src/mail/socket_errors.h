// Socket failures as the original system's socket library numbered and worded them, so
// logs and messages read as users know them: "Socket Error # 10061\r\nConnection refused."
#pragma once

#include <string>

namespace tzn {

// The socket-library number for an errno value (ECONNREFUSED -> 10061 ...).
int SocketErrorFromErrno(int err);
// The number for a getaddrinfo failure (EAI_NONAME -> 11001 "Host not found." ...).
int SocketErrorFromResolver(int eaiCode);
// The text for a socket-library number; unknown numbers get a generic text.
std::string SocketErrorText(int code);
// Throws EMxSocketError for errno `err`.
[[noreturn]] void RaiseSocketError(int err);
[[noreturn]] void RaiseSocketErrorCode(int code);

} // namespace tzn
