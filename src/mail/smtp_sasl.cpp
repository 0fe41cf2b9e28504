#include "mail/smtp_sasl.h"

#include <openssl/evp.h>

#include <vector>

namespace tzn {

std::string SaslBase64(std::string_view bytes) {
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
    const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

std::string SaslPlainResponse(const std::string& user, const std::string& password) {
    std::string s;
    s += '\0';
    s += user;
    s += '\0';
    s += password;
    return s;
}

bool SmtpSaslSupported(const std::string& mechanism) {
    return mechanism == "LOGIN" || mechanism == "PLAIN";
}

} // namespace tzn
