// Server replies: the lines of one answer turned into a code and text lines.
// TMxReply is the common shape; TMxReplyRFC reads three-digit replies (SMTP base),
// reply_smtp.h adds enhanced status codes, reply_pop3.h reads "+OK"/"-ERR" replies.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tzn {

class TMxReply {
public:
    virtual ~TMxReply() = default;

    const std::string& Code() const { return FCode; }
    // Sets the code after the class's validity check (raises for invalid codes).
    virtual void SetCode(const std::string& code) = 0;
    // The code as a number; 0 when it is blank or not numeric.
    int NumericCode() const;

    std::vector<std::string> Text; // reply text lines without code and separator

    // True when `line` ends the reply (the lines before it continue it).
    virtual bool IsEndLine(std::string_view line) const = 0;
    // Sets Code and Text (and extra fields) from the lines of one complete reply.
    virtual void ParseLines(const std::vector<std::string>& lines) = 0;
    // Throws the reply class's error carrying the text joined with CR LF.
    [[noreturn]] virtual void RaiseReplyError() const = 0;
    virtual void Clear();
    virtual std::unique_ptr<TMxReply> Clone() const = 0;

    std::string TextJoined() const; // Text joined with CR LF

protected:
    std::string FCode;
};

// Three-digit replies (RFC 821/5321 style). Final line: shorter than 4 characters or 4th
// character a blank; a 4th character "-" continues the reply.
class TMxReplyRFC : public TMxReply {
public:
    // Accepts "" or an integer 100..999; otherwise EMxException "Reply Code is not valid: %s".
    void SetCode(const std::string& code) override;
    bool IsEndLine(std::string_view line) const override;
    void ParseLines(const std::vector<std::string>& lines) override;
    [[noreturn]] void RaiseReplyError() const override;
    std::unique_ptr<TMxReply> Clone() const override;
};

// The codes a caller accepts for a reply: integer codes (SMTP) or one text code (POP3).
// Empty, {-1} or "" accept every reply.
class TMxReplyCodes {
public:
    TMxReplyCodes() = default;
    TMxReplyCodes(std::initializer_list<int> codes) : FNumbers(codes) {}
    TMxReplyCodes(std::vector<int> codes) : FNumbers(std::move(codes)) {}
    TMxReplyCodes(const char* code) : FText(code) {}
    TMxReplyCodes(std::string code) : FText(std::move(code)) {}

    bool AcceptsAll() const;
    bool Accepts(const TMxReply& reply) const;

private:
    std::vector<int> FNumbers;
    std::string FText;
};

} // namespace tzn
