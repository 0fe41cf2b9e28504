// POP3 replies: "+OK", "-ERR" or "+" (SASL continuation), with the bracketed response codes
// of RFC 2449/3206 ("-ERR [IN-USE] ...") kept apart from the text.
#pragma once

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

    // Length of the code at the start of `line`: one leading "-" skipped, then up to the
    // first blank or "-", or the end.
    static size_t CodeLength(std::string_view line);

private:
    std::string FEnhancedCode;
};

} // namespace tzn
