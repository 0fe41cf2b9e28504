#include "mail/pop3.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "mail/exceptions.h"
#include "mail/message_reader.h"
#include "mail/pop3_response_reader.h"
#include "mail/protocol_guard.h"
#include "mail/reply_pop3.h"
#include "platform/cp1251.h"
#include "platform/text.h"

namespace tzn {

namespace {

// The count of a STAT answer must be wholly a number; anything else is the ordinary
// conversion error.
int StrToInt(const std::string& s) {
    int v = 0;
    if (!ParseDecimal(std::string_view(s), v))
        throw std::runtime_error("'" + s + "' is not a valid integer value");
    return v;
}

std::string FirstTextLine(const TMxReply& reply) {
    return reply.Text.empty() ? std::string() : reply.Text.front();
}

} // namespace

std::string ApopDigest(const std::string& timestamp, const std::string& password) {
    const std::string text = timestamp + password;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), md, &len, EVP_md5(), nullptr);
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", md[i]);
        hex += buf;
    }
    return hex;
}

std::string ApopTimestampOf(const std::string& greeting) {
    const size_t open = greeting.find('<');
    if (open == std::string::npos)
        return {};
    const size_t close = greeting.find('>', open);
    if (close == std::string::npos)
        return {};
    return greeting.substr(open, close - open + 1);
}

TMxPOP3::TMxPOP3() : TMxTCPClient(std::make_unique<TMxReplyPOP3>()) {
    Port = 110;
}

TMxPOP3::~TMxPOP3() = default;

void TMxPOP3::ConnectToServer() {
    TMxTCPClient::ConnectToServer();
    try {
        ReadReply("+OK");
        FTimestamp = ApopTimestampOf(FirstTextLine(LastReply()));
        ReadCapabilities();
        if (WantsStartTLS(HasCapability("STLS"), "STLS")) {
            Transact("STLS", "+OK");
            StartTLS();
            // The list given in clear text may have been tampered with (RFC 2595).
            ReadCapabilities();
        }
    } catch (...) {
        try {
            CloseConnection();
        } catch (...) {
            // The failure that ended the login is the one to report.
        }
        throw;
    }
    if (AutoLogin)
        LogOn();
}

void TMxPOP3::ReadCapabilities() {
    FCapabilities.clear();
    if (!(Transact("CAPA") == "+OK"))
        return;
    TMxIOHandler& io = RequireHandler();
    for (;;) {
        std::string line = io.ReadLine();
        if (line == ".")
            break;
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
            line.erase(0, 1);
        FCapabilities.push_back(std::move(line));
        CheckCapabilityCount(FCapabilities.size());
    }
}

bool TMxPOP3::HasCapability(const std::string& keyword) const {
    for (const std::string& line : FCapabilities)
        if (AnsiSameText(line, keyword))
            return true;
    return false;
}

void TMxPOP3::LogOn() {
    try {
        switch (AuthType) {
        case TMxPOP3AuthType::UserPass:
            Transact("USER " + Username, "+OK");
            Transact("PASS " + Password, "+OK");
            break;
        case TMxPOP3AuthType::APOP:
            if (FTimestamp.empty())
                throw EMxDoesNotSupportAPOP();
            Transact("APOP " + Username + " " + ApopDigest(FTimestamp, Password), "+OK");
            break;
        case TMxPOP3AuthType::SASL:
            // No mechanism is built in for POP3; only the configured-none case is defined.
            throw EMxSASLMechNeeded();
        }
    } catch (...) {
        try {
            CloseConnection();
        } catch (...) {
            // The failure that ended the login is the one to report.
        }
        throw;
    }
}

int TMxPOP3::MessageCount() {
    Transact("STAT", "+OK");
    const std::string line = FirstTextLine(LastReply());
    if (line.empty())
        return 0;
    const size_t blank = line.find(' ');
    return StrToInt(blank == std::string::npos ? std::string() : line.substr(0, blank));
}

int64_t TMxPOP3::MessageSize(int n) {
    Transact("LIST " + std::to_string(n), "+OK");
    const std::string line = FirstTextLine(LastReply());
    // The second blank-separated word: "<number> <size>".
    size_t start = line.find_first_not_of(' ');
    start = start == std::string::npos ? start : line.find(' ', start);
    start = start == std::string::npos ? start : line.find_first_not_of(' ', start);
    if (start == std::string::npos)
        return -1;
    const size_t end = line.find(' ', start);
    int64_t size = 0;
    const std::string_view word = std::string_view(line).substr(start, end - start);
    return ParseDecimal(word, size) ? size : -1;
}

template <typename Fn> void TMxPOP3::ReadAnswerInto(Fn&& read) {
    TMxIOHandler& io = RequireHandler();
    // Header and body are read in steps of their own; the gauge sees one transfer, counted
    // by the socket's reads.
    TMxWorkScope work(*this, TMxWorkMode::Read);
    TMxPOP3ResponseReader answer(io);
    try {
        read(answer);
        answer.SkipRest();
    } catch (const EMxReadTimeout&) {
        throw; // the handler has ended the connection: the rest of the answer may still come
    } catch (const EMxSocketError&) {
        throw;
    } catch (const EMxConnClosedGracefully&) {
        throw;
    } catch (...) {
        // The letter could not be read (bad part, full disk ...): drop the rest of the
        // answer so the connection can go on with the next command.
        try {
            answer.SkipRest();
        } catch (...) {
            try {
                CloseConnection(false);
            } catch (...) {
                // The original failure is the one to report.
            }
        }
        throw;
    }
}

bool TMxPOP3::FetchHeader(int n, TMxMessage& msg) {
    msg.Clear();
    Transact("TOP " + std::to_string(n) + " 0", "+OK");
    ReadAnswerInto([&](TMxIOHandler& answer) { ReadHeaderBlock(answer, msg, "."); });
    return true;
}

bool TMxPOP3::FetchMessage(int n, TMxMessage& msg) {
    if (!(Transact("RETR " + std::to_string(n)) == "+OK"))
        return false;
    msg.Clear();
    ReadAnswerInto([&](TMxIOHandler& answer) {
        if (ReadHeaderBlock(answer, msg, "").empty())
            ReadBodyBlock(answer, msg, ".");
    });
    return true;
}

bool TMxPOP3::DeleteMessage(int n) {
    return Transact("DELE " + std::to_string(n), "+OK") == "+OK";
}

bool TMxPOP3::UniqueIds(std::map<int, std::string>& ids) {
    ids.clear();
    if (!(Transact("UIDL") == "+OK"))
        return false;
    TMxIOHandler& io = RequireHandler();
    for (;;) {
        const std::string line = io.ReadLine();
        if (line == ".")
            break;
        // "<number> <id>"; a line of another shape is skipped, not guessed at.
        const size_t blank = line.find(' ');
        int n = 0;
        if (blank == std::string::npos ||
            !ParseDecimal<int>(std::string_view(line).substr(0, blank), n, 1))
            continue;
        const size_t id = line.find_first_not_of(' ', blank);
        if (id != std::string::npos)
            ids[n] = line.substr(id);
    }
    return true;
}

void TMxPOP3::DisconnectNotifyPeer() {
    Transact("QUIT", "+OK");
}

} // namespace tzn
