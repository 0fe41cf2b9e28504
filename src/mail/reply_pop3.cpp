#include "mail/reply_pop3.h"

#include "mail/exceptions.h"

namespace tzn {

namespace {

constexpr std::string_view kCodes[] = {"+OK", "-ERR", "+"};
constexpr std::string_view kResponseCodes[] = {"IN-USE", "LOGIN-DELAY", "SYS/PERM", "SYS/TEMP",
                                               "AUTH"};

bool IsKnownCode(std::string_view c) {
    for (std::string_view k : kCodes)
        if (c == k)
            return true;
    return false;
}

} // namespace

size_t TMxReplyPOP3::CodeLength(std::string_view line) {
    size_t i = !line.empty() && line[0] == '-' ? 1 : 0;
    while (i < line.size() && line[i] != ' ' && line[i] != '-')
        ++i;
    return i;
}

bool TMxReplyPOP3::IsStatusLine(std::string_view line) {
    for (std::string_view code : {std::string_view("+OK"), std::string_view("-ERR")})
        if (line.substr(0, code.size()) == code &&
            (line.size() == code.size() || line[code.size()] == ' '))
            return true;
    return false;
}

void TMxReplyPOP3::SetCode(const std::string& code) {
    if (!code.empty() && !IsKnownCode(code))
        throw EMxException("Reply Code is not valid: " + code);
    FCode = code;
}

bool TMxReplyPOP3::IsEndLine(std::string_view line) const {
    size_t pos = CodeLength(line);
    return pos >= line.size() || line[pos] != '-';
}

bool TMxReplyPOP3::IsValidEnhancedCode(std::string_view code) {
    if (code.empty())
        return true;
    if (code.size() < 3 || code.front() != '[' || code.back() != ']')
        return false;
    std::string_view inner = code.substr(1, code.size() - 2);
    for (std::string_view k : kResponseCodes)
        if (inner.substr(0, k.size()) == k)
            return true;
    return false;
}

void TMxReplyPOP3::SetEnhancedCode(const std::string& code) {
    if (!IsValidEnhancedCode(code))
        throw EMxPOP3ReplyInvalidEnhancedCode(code);
    FEnhancedCode = code;
}

void TMxReplyPOP3::ParseLines(const std::vector<std::string>& lines) {
    Clear();
    for (const std::string& l : lines) {
        size_t pos = CodeLength(l);
        if (FCode.empty()) {
            std::string_view c = std::string_view(l).substr(0, pos);
            if (IsKnownCode(c))
                FCode = std::string(c);
        }
        Text.push_back(pos < l.size() ? l.substr(pos + 1) : std::string());
    }
    if (FCode.empty())
        FCode = "-ERR";
    if (FCode == "-ERR" && !Text.empty() && !Text[0].empty() && Text[0][0] == '[') {
        std::string& first = Text[0];
        size_t close = first.find(']');
        if (close != std::string::npos) {
            std::string word = first.substr(0, close + 1);
            if (IsValidEnhancedCode(word)) {
                FEnhancedCode = word;
                size_t rest = close + 1;
                while (rest < first.size() && first[rest] == ' ')
                    ++rest;
                first.erase(0, rest);
            }
        }
    }
}

void TMxReplyPOP3::RaiseReplyError() const {
    throw EMxReplyPOP3Error(FCode, FEnhancedCode, TextJoined());
}

void TMxReplyPOP3::Clear() {
    TMxReply::Clear();
    FEnhancedCode.clear();
}

std::unique_ptr<TMxReply> TMxReplyPOP3::Clone() const {
    return std::make_unique<TMxReplyPOP3>(*this);
}

} // namespace tzn
