#include "mail/header_list.h"

#include "mail/text_util.h"
#include "platform/cp1251.h"

namespace tzn {

namespace {

// Splits at CR LF, a bare LF or a bare CR.
std::vector<std::string_view> SplitBreaks(std::string_view s) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            out.push_back(s.substr(start, i - start));
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    out.push_back(s.substr(start));
    return out;
}

} // namespace

// The end (one past "?=") of the encoded word "=?label?method?data?=" starting at `at`, or
// npos when none starts there.
static size_t EncodedWordEnd(const std::string& s, size_t at) {
    const size_t label = s.find('?', at + 2);
    if (label == std::string::npos)
        return std::string::npos;
    const size_t method = s.find('?', label + 1);
    if (method == std::string::npos)
        return std::string::npos;
    const size_t end = s.find("?=", method + 1);
    return end == std::string::npos ? end : end + 2;
}

std::vector<std::string> FoldHeaderLine(std::string_view line, size_t width, size_t keep) {
    std::vector<std::string> out;
    std::string rest(line);
    bool first = true;
    while (true) {
        size_t minPos = first ? keep : 1;
        if (rest.size() <= width) {
            out.emplace_back(TrimRightBlanks(rest));
            break;
        }
        // The last break point within the width; failing that, the first beyond it.
        size_t best = 0, firstBeyond = 0;
        bool quoted = false;
        for (size_t i = 0; i < rest.size(); ++i) {
            char c = rest[i];
            if (c == '"' && (i == 0 || rest[i - 1] != '\\'))
                quoted = !quoted;
            // An encoded word may hold a comma (Q form) but must never be split.
            if (!quoted && c == '=' && i + 1 < rest.size() && rest[i + 1] == '?') {
                const size_t end = EncodedWordEnd(rest, i);
                if (end != std::string::npos) {
                    i = end - 1;
                    continue;
                }
            }
            if (quoted || !(IsBlank(c) || c == ','))
                continue;
            size_t pos = i + 1; // break after the character
            if (pos <= minPos || pos >= rest.size())
                continue;
            if (pos <= width)
                best = pos;
            else {
                firstBeyond = pos;
                break;
            }
        }
        size_t at = best ? best : firstBeyond;
        if (at == 0) {
            out.emplace_back(TrimRightBlanks(rest));
            break;
        }
        std::string_view piece = TrimRightBlanks(std::string_view(rest).substr(0, at));
        size_t next = at;
        while (next < rest.size() && IsBlank(rest[next]))
            ++next;
        if (next >= rest.size()) {
            out.emplace_back(piece);
            break;
        }
        out.emplace_back(piece);
        rest = " " + rest.substr(next);
        first = false;
    }
    return out;
}

void TMxHeaderList::Delete(size_t i) {
    if (i < FLines.size())
        FLines.erase(FLines.begin() + static_cast<long>(i));
}

bool TMxHeaderList::IsContinuation(size_t i) const {
    return !FLines[i].empty() && IsBlank(FLines[i][0]);
}

size_t TMxHeaderList::LinesOf(size_t i) const {
    size_t n = 1;
    while (i + n < FLines.size() && IsContinuation(i + n))
        ++n;
    return n;
}

std::string TMxHeaderList::Name(size_t i) const {
    if (i >= FLines.size() || IsContinuation(i))
        return {};
    const std::string& line = FLines[i];
    char sep = FSeparator.empty() ? ':' : FSeparator[0];
    size_t p = line.find(sep);
    if (p == std::string::npos)
        return {};
    return std::string(TrimView(std::string_view(line).substr(0, p)));
}

std::string TMxHeaderList::ValueFromIndex(size_t i) const {
    if (i >= FLines.size())
        return {};
    const std::string& line = FLines[i];
    char sep = FSeparator.empty() ? ':' : FSeparator[0];
    size_t p = line.find(sep);
    std::string value = p == std::string::npos
                            ? std::string()
                            : std::string(TrimView(std::string_view(line).substr(p + 1)));
    for (size_t j = i + 1; j < FLines.size() && IsContinuation(j); ++j) {
        std::string_view more = TrimView(FLines[j]);
        if (more.empty())
            continue;
        if (!value.empty())
            value += ' ';
        value += more;
    }
    return value;
}

long TMxHeaderList::IndexOfName(std::string_view name) const {
    std::string_view want = TrimView(name);
    for (size_t i = 0; i < FLines.size(); ++i) {
        if (IsContinuation(i))
            continue;
        if (AnsiSameText(Name(i), want))
            return static_cast<long>(i);
    }
    return -1;
}

std::string TMxHeaderList::Values(std::string_view name) const {
    long i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(static_cast<size_t>(i));
}

std::vector<std::string> TMxHeaderList::FoldedLines(std::string_view name,
                                                    std::string_view value) const {
    std::vector<std::string> out;
    std::string head = std::string(name) + FSeparator;
    auto pieces = SplitBreaks(value);
    for (size_t k = 0; k < pieces.size(); ++k) {
        // A blank continuation line would be read back as the end of the header block, and
        // the header lines after it as body text.
        if (k > 0 && TrimBlanks(pieces[k]).empty())
            continue;
        std::string line = k == 0 ? head + std::string(pieces[k]) : std::string(pieces[k]);
        if (k > 0 && (line.empty() || !IsBlank(line[0])))
            line.insert(0, " "); // a break in the value must still continue this header
        if (!Folding || FoldLength <= 0) {
            out.push_back(std::move(line));
            continue;
        }
        for (auto& piece :
             FoldHeaderLine(line, static_cast<size_t>(FoldLength), k == 0 ? head.size() : 1))
            out.push_back(std::move(piece));
    }
    return out;
}

void TMxHeaderList::SetValue(std::string_view name, std::string_view value) {
    long idx = IndexOfName(name);
    if (idx >= 0)
        FLines.erase(FLines.begin() + idx, FLines.begin() + idx + static_cast<long>(LinesOf(idx)));
    if (value.empty())
        return;
    auto lines = FoldedLines(TrimView(name), value);
    auto at = idx >= 0 ? FLines.begin() + idx : FLines.end();
    FLines.insert(at, lines.begin(), lines.end());
}

} // namespace tzn
