// Repair of header texts that still hold "=?ISO-8859-1?Q?...?=" words after a letter was read:
// the escaped bytes are taken as they are (no character-set conversion), and the texts are
// cut to the lengths the module keeps. Used by the mail store's scans and by the mail session.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tzn {

class TMxMessage;

// Receives "Ошибка кодировки: " + the error's message when a recoded address text cannot be
// set back into a letter. The session passes its log writer; the store passes nothing.
using TRecodeErrorLog = std::function<void(const std::string& line)>;

// Recodes the From address, the recipient list and the subject of `letter` in place. Fields
// handled before an error keep their new values; an error goes to `log` (when given) and
// never leaves the function.
void RecodeMessageHeaders(TMxMessage& letter, const TRecodeErrorLog& log = {});

// Recodes one header text: up to 199 characters from the first marker on are kept, and up
// to 99 after each terminator. Never fails: on a malformed word the input comes back whole.
std::string RecodeHeaderText(const std::string& text);

// Unescapes the word whose marker starts at 1-based position `p` of `text`. Throws
// std::runtime_error on a word without its terminator and std::invalid_argument on a bad
// escape.
std::string DecodeQWord(const std::string& text, std::size_t p);

// The one character whose code is the hexadecimal value of `two` (one or two digits).
// Throws std::invalid_argument when `two` is empty or not hexadecimal.
std::string HexToChar(std::string_view two);

// 1-based position of the marker in `text`, ASCII letters compared without case; 0 if absent.
std::size_t FindQWordMarker(std::string_view text);

} // namespace tzn
