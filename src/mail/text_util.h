// Small text helpers the mail units share: blanks, trimming, case-insensitive prefixes, quoting,
// lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tzn {

// Space or tab: the blanks that pad header values and begin folded lines.
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The text without leading and trailing spaces and control characters (every byte up to ' ').
std::string_view TrimView(std::string_view s);
std::string Trim(std::string_view s);

// The text without leading and trailing spaces and tabs only.
std::string_view TrimBlanks(std::string_view s);
// The text without trailing spaces and tabs.
std::string_view TrimRightBlanks(std::string_view s);

// Whether s begins with prefix, compared as AnsiSameText compares.
bool StartsWithText(std::string_view s, std::string_view prefix);

// Text into lines as a string list takes it: CR LF, LF or CR end a line; a final break
// makes no empty last line.
std::vector<std::string> SplitTextLines(std::string_view text);

// s in double quotes, with every '\' and '"' inside escaped by a backslash.
std::string QuotedString(std::string_view s);

} // namespace tzn
