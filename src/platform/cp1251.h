// Windows-1251 text: the module's one 8-bit code page.
// Inside the module every std::string holds CP1251 bytes; conversion to UTF-8 happens
// only where text leaves for a terminal or a widget.
#pragma once

#include <string>
#include <string_view>

namespace tzn {

// Converts a UTF-8 literal (Russian texts are written readably in the source) to CP1251.
// Characters without a CP1251 form become '?'.
std::string ru(std::string_view utf8);

// CP1251 bytes to UTF-8.
std::string Utf8FromCp1251(std::string_view cp1251);

// Locale-aware upper- and lower-casing of CP1251 text: ASCII, А-Я/а-я, Ё/ё.
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);
char AnsiUpperChar(char c);

// Case-insensitive comparison under the same rules.
bool AnsiSameText(std::string_view a, std::string_view b);

} // namespace tzn
