// The small pieces of SMTP authentication: base64 of one credential line and the PLAIN
// response.
#pragma once

#include <string>
#include <string_view>

namespace tzn {

// One base64 line without a line break (credentials are short).
std::string SaslBase64(std::string_view bytes);
// authorisation identity (empty), NUL, user, NUL, password.
std::string SaslPlainResponse(const std::string& user, const std::string& password);
// The mechanisms this client can run itself: "LOGIN", "PLAIN".
bool SmtpSaslSupported(const std::string& mechanism);

} // namespace tzn
