#include "module/text_matches.h"

#include "platform/cp1251.h"

namespace tzn {

bool TextMatches(const std::string& text, const std::string& pattern) {
    const std::string t = AnsiUpperCase(text);
    const std::string p = AnsiUpperCase(pattern);
    if (t == p)
        return true;
    // An empty pattern is not "contained" in a non-empty text.
    return !p.empty() && t.find(p) != std::string::npos;
}

} // namespace tzn
