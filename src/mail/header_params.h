// What a structured header value ("text/plain; charset=x", "attachment; filename=...")
// carries besides its main token: its parameters, plainly written, quoted, or in the
// extended form split into numbered pieces.
#pragma once

#include <string>
#include <string_view>

namespace tzn {

// The value's main token: everything before the first ";", trimmed.
std::string HeaderMainValue(std::string_view value);

// The parameter `param` ("charset", "boundary", "name", "filename") of a header value;
// names case-insensitive, a quoted value up to its closing quote.
std::string HeaderParam(const std::string& value, const std::string& param);

// A part's file name as it may be stored here: encoded words decoded, folders cut off, and
// every character a file name may not carry turned into "_".
std::string SafePartFileName(const std::string& raw);

} // namespace tzn
