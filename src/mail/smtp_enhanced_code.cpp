#include "mail/smtp_enhanced_code.h"

#include "platform/text.h"

namespace tzn {

namespace {

// One field of "c.s.d" at `pos` up to the next '.' (or the end): 1..`digits` digits.
bool ReadField(std::string_view s, size_t& pos, size_t digits, int& value) {
    size_t end = s.find('.', pos);
    if (end == std::string_view::npos)
        end = s.size();
    const std::string_view field = s.substr(pos, end - pos);
    pos = end;
    return field.size() <= digits && ParseDecimal(field, value);
}

bool Parse(std::string_view s, int& c, int& subj, int& det) {
    size_t pos = 0;
    if (!ReadField(s, pos, 1, c) || (c != 2 && c != 4 && c != 5))
        return false;
    if (pos >= s.size() || s[pos++] != '.')
        return false;
    if (!ReadField(s, pos, 3, subj))
        return false;
    if (pos >= s.size() || s[pos++] != '.')
        return false;
    return ReadField(s, pos, 3, det) && pos == s.size();
}

} // namespace

bool TMxSMTPEnhancedCode::IsValid(std::string_view word) {
    int c, s, d;
    return Parse(word, c, s, d);
}

void TMxSMTPEnhancedCode::SetReplyAsStr(std::string_view word) {
    int c, s, d;
    if (Parse(word, c, s, d)) {
        StatusClass = c;
        Subject = s;
        Details = d;
        Available = true;
    } else {
        *this = TMxSMTPEnhancedCode{};
    }
}

std::string TMxSMTPEnhancedCode::ReplyAsStr() const {
    if (!Available)
        return {};
    return std::to_string(StatusClass) + "." + std::to_string(Subject) + "." +
           std::to_string(Details);
}

} // namespace tzn
