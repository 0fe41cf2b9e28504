#include "mail/reply_smtp.h"

#include "mail/exceptions.h"
#include "mail/text_util.h"

namespace tzn {

void TMxReplySMTP::ParseLines(const std::vector<std::string>& lines) {
    Clear();
    if (lines.empty())
        return;
    std::string code = Trim(std::string_view(lines[0]).substr(0, 4));
    if (code.size() == 4 && code[3] == '-')
        code.resize(3);
    SetCode(code);
    for (const std::string& l : lines) {
        std::string text = l.size() > 4 ? l.substr(4) : "";
        size_t blank = text.find(' ');
        std::string_view word = std::string_view(text).substr(0, blank);
        if (TMxSMTPEnhancedCode::IsValid(word)) {
            EnhancedCode.SetReplyAsStr(word);
            text.erase(0, blank == std::string::npos ? text.size() : blank + 1);
        }
        Text.push_back(std::move(text));
    }
}

void TMxReplySMTP::RaiseReplyError() const {
    throw EMxSMTPReplyError(NumericCode(), EnhancedCode, TextJoined());
}

void TMxReplySMTP::Clear() {
    TMxReplyRFC::Clear();
    EnhancedCode = TMxSMTPEnhancedCode{};
}

std::unique_ptr<TMxReply> TMxReplySMTP::Clone() const {
    return std::make_unique<TMxReplySMTP>(*this);
}

} // namespace tzn
