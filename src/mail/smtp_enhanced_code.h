// The enhanced status code of an SMTP reply (RFC 3463): class.subject.detail, e.g. "5.1.1".
#pragma once

#include <string>
#include <string_view>

namespace tzn {

struct TMxSMTPEnhancedCode {
    int StatusClass = 0; // 2, 4 or 5
    int Subject = 0;
    int Details = 0;
    bool Available = false; // whether the reply carried one

    // True when `word` is "c.s.d" with c in {2,4,5} and s, d numbers of 1..3 digits.
    static bool IsValid(std::string_view word);
    // Parses `word`; leaves the code unavailable when it is not valid.
    void SetReplyAsStr(std::string_view word);
    std::string ReplyAsStr() const; // "" when not available
};

} // namespace tzn
