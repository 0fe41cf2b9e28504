// The small pieces of SMTP authentication: base64 of one credential line, the PLAIN and
// CRAM-MD5 responses.
#pragma once

#include <string>
#include <string_view>

namespace tzn {

// One base64 line without a line break (credentials are short).
std::string SaslBase64(std::string_view bytes);
// authorisation identity (empty), NUL, user, NUL, password.
std::string SaslPlainResponse(const std::string& user, const std::string& password);
// The CRAM-MD5 response before base64: user, a blank, the lower-case hex HMAC-MD5 of the
// server's (decoded) challenge keyed with the password (RFC 2195).
std::string SaslCramMd5Response(const std::string& user, const std::string& password,
                                std::string_view challenge);
// The mechanisms this client can run itself: "LOGIN", "PLAIN", "CRAM-MD5".
bool SmtpSaslSupported(const std::string& mechanism);

} // namespace tzn
