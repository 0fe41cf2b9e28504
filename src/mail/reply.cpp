#include "mail/reply.h"

#include <algorithm>

#include "mail/exceptions.h"
#include "mail/text_util.h"
#include "platform/text.h"

namespace tzn {

namespace {

// The text of a numeric reply line: from the 5th character on.
std::string RFCLineText(const std::string& line) {
    return line.size() > 4 ? line.substr(4) : "";
}

} // namespace

int TMxReply::NumericCode() const {
    int v = 0;
    return ParseDecimal(std::string_view(FCode), v) ? v : 0;
}

void TMxReply::Clear() {
    FCode.clear();
    Text.clear();
}

std::string TMxReply::TextJoined() const {
    std::string r;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (i)
            r += "\r\n";
        r += Text[i];
    }
    return r;
}

// ---- numeric replies -------------------------------------------------------------------

void TMxReplyRFC::SetCode(const std::string& code) {
    int v = 0;
    if (!code.empty() && !ParseDecimal(std::string_view(code), v, 100, 999))
        throw EMxException("Reply Code is not valid: " + code);
    FCode = code;
}

bool TMxReplyRFC::IsEndLine(std::string_view line) const {
    return line.size() < 4 || line[3] == ' ';
}

void TMxReplyRFC::ParseLines(const std::vector<std::string>& lines) {
    Clear();
    if (lines.empty())
        return;
    SetCode(Trim(std::string_view(lines[0]).substr(0, 3)));
    for (const std::string& l : lines)
        Text.push_back(RFCLineText(l));
}

void TMxReplyRFC::RaiseReplyError() const {
    throw EMxReplyRFCError(NumericCode(), TextJoined());
}

std::unique_ptr<TMxReply> TMxReplyRFC::Clone() const {
    return std::make_unique<TMxReplyRFC>(*this);
}

// ---- allowed codes -----------------------------------------------------------------------

bool TMxReplyCodes::AcceptsAll() const {
    return FText.empty() && (FNumbers.empty() || (FNumbers.size() == 1 && FNumbers[0] == -1));
}

bool TMxReplyCodes::Accepts(const TMxReply& reply) const {
    if (AcceptsAll())
        return true;
    if (!FText.empty())
        return reply.Code() == FText;
    int code = reply.NumericCode();
    return std::find(FNumbers.begin(), FNumbers.end(), code) != FNumbers.end();
}

} // namespace tzn
