// How a mail client protects its connection: not at all, STARTTLS/STLS when the server offers
// it, STARTTLS/STLS required, or TLS from the first byte (the SMTPS/POP3S ports). What a
// connection turned out to be is reported in TMxTLSInfo.
#pragma once

#include <string>
#include <string_view>

namespace tzn {

enum class TMxTLSMode {
    None,     // plain text throughout
    Auto,     // STARTTLS/STLS when offered, plain text otherwise
    StartTLS, // STARTTLS/STLS required: a server without it is an error
    Implicit  // TLS right after the TCP connect
};

struct TMxTLSOptions {
    TMxTLSMode Mode = TMxTLSMode::None;
    std::string CAFile;     // trusted certificates (PEM file); empty: the system's CA store
    std::string VerifyHost; // name or address the certificate must carry; empty: the Host
};

// The state of one connection, for reports to the administrator.
struct TMxTLSInfo {
    bool Encrypted = false;
    std::string Version; // "TLSv1.3"
    std::string Cipher;  // "TLS_AES_256_GCM_SHA384"
    std::string Subject; // of the server's certificate, one line
    std::string Issuer;
};

// The mode named "none", "starttls", "tls" or "auto" (any case; empty reads as "auto").
// False for any other text.
bool TryTlsModeFromName(std::string_view name, TMxTLSMode& mode);

} // namespace tzn
