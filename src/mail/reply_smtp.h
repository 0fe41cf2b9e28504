// SMTP replies: three-digit codes with RFC 3463 enhanced status codes in the text.
#pragma once

#include "mail/reply.h"
#include "mail/smtp_enhanced_code.h"

namespace tzn {

class TMxReplySMTP : public TMxReplyRFC {
public:
    TMxSMTPEnhancedCode EnhancedCode;

    // The code is the first four characters trimmed, cut to three when the 4th is "-";
    // each line's text (from the 5th character) loses a leading valid enhanced code, which
    // is kept in EnhancedCode.
    void ParseLines(const std::vector<std::string>& lines) override;
    [[noreturn]] void RaiseReplyError() const override; // EMxSMTPReplyError
    void Clear() override;
    std::unique_ptr<TMxReply> Clone() const override;
};

} // namespace tzn
