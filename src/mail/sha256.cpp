#include "mail/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace tzn {

namespace {

std::string HexOf(const unsigned char* md, unsigned n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(n * 2);
    for (unsigned i = 0; i < n; ++i) {
        hex += kDigits[md[i] >> 4];
        hex += kDigits[md[i] & 15];
    }
    return hex;
}

} // namespace

struct TMxSha256::TMxContext {
    EVP_MD_CTX* Ctx = EVP_MD_CTX_new();
    ~TMxContext() { EVP_MD_CTX_free(Ctx); }
};

TMxSha256::TMxSha256() : FContext(std::make_unique<TMxContext>()) {
    if (!FContext->Ctx || EVP_DigestInit_ex(FContext->Ctx, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 not available");
}

TMxSha256::~TMxSha256() = default;

void TMxSha256::Update(std::string_view bytes) {
    EVP_DigestUpdate(FContext->Ctx, bytes.data(), bytes.size());
}

std::string TMxSha256::HexDigest() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_DigestFinal_ex(FContext->Ctx, md, &n);
    return HexOf(md, n);
}

std::string Sha256Hex(std::string_view bytes) {
    TMxSha256 d;
    d.Update(bytes);
    return d.HexDigest();
}

} // namespace tzn
