// SHA-256 of bytes as lower-case hex, at once or streamed: the checksum by which a letter's
// parts are compared with other mail programs' copies of them. The mail layer owns the
// crypto library, so the digest lives here.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tzn {

class TMxSha256 {
public:
    TMxSha256();
    ~TMxSha256();
    TMxSha256(const TMxSha256&) = delete;
    TMxSha256& operator=(const TMxSha256&) = delete;

    void Update(std::string_view bytes);
    // The digest of everything updated so far; the object is spent afterwards.
    std::string HexDigest();

private:
    struct TMxContext;
    std::unique_ptr<TMxContext> FContext;
};

std::string Sha256Hex(std::string_view bytes);

} // namespace tzn
