// The subject test of received letters.
#pragma once

#include <string>

namespace tzn {

// Upper-cases both texts (CP1251 rules) and returns true when they are equal or Pattern occurs
// in Text. An empty pattern therefore matches only an empty text.
bool TextMatches(const std::string& text, const std::string& pattern);

} // namespace tzn
