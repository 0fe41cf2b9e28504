#include "mail/smtp_sasl.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

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

std::string SaslCramMd5Response(const std::string& user, const std::string& password,
                                std::string_view challenge) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_md5(), password.data(), static_cast<int>(password.size()),
         reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), digest,
         &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s = user + ' ';
    for (unsigned int i = 0; i < length; ++i) {
        s += kHex[digest[i] >> 4];
        s += kHex[digest[i] & 15];
    }
    return s;
}

bool SmtpSaslSupported(const std::string& mechanism) {
    return mechanism == "LOGIN" || mechanism == "PLAIN" || mechanism == "CRAM-MD5";
}

} // namespace tzn
