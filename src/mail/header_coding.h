// Header encoding: non-ASCII header text (subjects, display names) as RFC 2047 encoded
// words, and back. Text is CP1251 bytes throughout; the character-set label only names what
// the bytes are taken to be (no code-page conversion except ISO-2022-JP).
#pragma once

#include <string>
#include <string_view>

namespace tzn {

enum class TMxHeaderMethod { B, Q, Raw8Bit };

struct TMxHeaderEncoding {
    std::string CharSet; // the label: "KOI8-R", "windows-1251", ...
    TMxHeaderMethod Method = TMxHeaderMethod::B;
    bool ConvertToISO2022JP = false; // Japanese: text converted before encoding
};

// The parameters for the system's primary language (FormatSettings::PrimaryLanguage, a
// language identifier: primary language in bits 0-9, sublanguage above): Russian
// KOI8-R/B, Ukrainian windows-1251/B, Japanese ISO-2022-JP/B (converted), Korean
// csEUCKR/B, Chinese simplified GB2312/B, other Chinese Big5/B, others ISO-8859-1/Q.
// Without encoded words (a delivery run's raw 8-bit headers) the label stays and the method
// is Raw8Bit.
TMxHeaderEncoding HeaderEncodingParams(bool encodeWords);
TMxHeaderEncoding HeaderEncodingParamsFor(int languageId, bool encodeWords);

// Specials that force encoding of display names in address headers.
inline constexpr std::string_view kMxAddressSpecials = "()[]<>:;.,@\\\"";

// Encodes `text` for a header value. Words (split at blanks, tabs, CR, LF) holding a
// forcing character (a special, bytes 0-31 and 127-255, "?", "=", "_") are encoded from the
// first such word to the end of the last, as words "=?label?B|Q?data?=" of at most 75
// characters; further words continue on lines "\r\n " + word. Raw8Bit returns the text.
std::string EncodeHeader(std::string_view text, std::string_view specials, TMxHeaderMethod method,
                         std::string_view charSet, bool convertToISO2022JP = false);
// Convenience: with HeaderEncodingParams(encodeWords).
std::string EncodeHeader(std::string_view text, std::string_view specials, bool encodeWords);
// Encodes word by word, as strict servers and today's readers want it: each run of words
// holding bytes outside printable ASCII (with the blanks between them, which a reader drops
// between encoded words) becomes B words labelled `charSet`; ASCII words, such as a subject
// tag, stay as they are.
std::string EncodeHeaderWords(std::string_view text, std::string_view charSet);
// A display name for an address header: a quoted string when it is printable ASCII, else
// wholly B words labelled `charSet` (a phrase may hold specials, so no word stays bare).
std::string EncodeDisplayName(std::string_view name, std::string_view charSet);

// Decodes the encoded words whose label begins with ISO, WINDOWS or KOI8 (others stay as
// they are), joining adjacent decoded words (the white space between them goes), and
// removes NUL characters. More than kMxMaxEncodedWords words raise EMxLimitExceeded.
std::string DecodeHeader(std::string_view value);

// ISO-2022-JP <-> the Japanese system code page (Shift_JIS / CP932). On failure the text
// comes back unchanged.
std::string ConvertToISO2022JP(std::string_view text);
std::string ConvertFromISO2022JP(std::string_view text);

} // namespace tzn
