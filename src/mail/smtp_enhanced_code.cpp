#include "mail/smtp_enhanced_code.h"

namespace tzn {

namespace {

// Reads 1..3 digits at `pos`; false when there are none or more.
bool ReadNumber(std::string_view s, size_t& pos, int& value) {
    size_t start = pos;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return pos > start && pos - start <= 3;
}

bool Parse(std::string_view s, int& c, int& subj, int& det) {
    size_t pos = 0;
    if (!ReadNumber(s, pos, c) || pos != 1 || (c != 2 && c != 4 && c != 5))
        return false;
    if (pos >= s.size() || s[pos++] != '.')
        return false;
    if (!ReadNumber(s, pos, subj))
        return false;
    if (pos >= s.size() || s[pos++] != '.')
        return false;
    if (!ReadNumber(s, pos, det))
        return false;
    return pos == s.size();
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
