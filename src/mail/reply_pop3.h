// POP3 replies: "+OK", "-ERR" or "+" (SASL continuation), with the bracketed response codes
// of RFC 2449/3206 ("-ERR [IN-USE] ...") kept apart from the text.
#pragma once

#include "mail/exceptions.h"
#include "mail/reply.h"

namespace tzn {

class TMxReplyPOP3 : public TMxReply {
public:
    // Accepts "", "+OK", "-ERR", "+"; others raise "Reply Code is not valid: %s".
    void SetCode(const std::string& code) override;
    bool IsEndLine(std::string_view line) const override;
    void ParseLines(const std::vector<std::string>& lines) override;
    [[noreturn]] void RaiseReplyError() const override; // EMxReplyPOP3Error
    void Clear() override;
    std::unique_ptr<TMxReply> Clone() const override;

    const std::string& EnhancedCode() const { return FEnhancedCode; }
    // "" or a bracketed code starting with IN-USE, LOGIN-DELAY, SYS/PERM, SYS/TEMP, AUTH;
    // anything else raises EMxPOP3ReplyInvalidEnhancedCode.
    void SetEnhancedCode(const std::string& code);
    static bool IsValidEnhancedCode(std::string_view code);

    // Whether `line` is the first line of a command's answer: "+OK" or "-ERR", alone or
    // followed by a blank. Anything else where an answer is due means the conversation is out
    // of step.
    static bool IsStatusLine(std::string_view line);

    // Length of the code at the start of `line`: one leading "-" skipped, then up to the
    // first blank or "-", or the end.
    static size_t CodeLength(std::string_view line);

private:
    std::string FEnhancedCode;
};

// A POP3 server that broke the protocol: an answer out of step with the commands, a listing
// past its bound or numbering a letter twice, a mailbox too large to handle. The connection
// has been closed when the rest of the conversation could not be trusted.
class EMxPOP3ProtocolError : public EMxException {
public:
    using EMxException::EMxException;
};

} // namespace tzn
