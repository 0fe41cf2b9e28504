// Header lines of a letter or of one of its parts: "Name: value" lines in their order, with
// continuation lines kept as lines of their own. Lookup is case-insensitive and joins the
// continuation lines; setting a value folds it and replaces the old lines in place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tzn {

class TMxHeaderList {
public:
    // Parts read from a letter keep their extra header lines as "name=value".
    explicit TMxHeaderList(std::string separator = ": ") : FSeparator(std::move(separator)) {}

    const std::string& Separator() const { return FSeparator; }
    bool Folding = true;
    int FoldLength = 78;

    // ---- the lines ----
    size_t Count() const { return FLines.size(); }
    bool Empty() const { return FLines.empty(); }
    const std::string& operator[](size_t i) const { return FLines[i]; }
    const std::vector<std::string>& Lines() const { return FLines; }
    void Add(std::string line) { FLines.push_back(std::move(line)); }
    void Delete(size_t i);
    void Clear() { FLines.clear(); }
    void Assign(const TMxHeaderList& other) { FLines = other.FLines; }

    // The name of line i: the text before the first ':' (or before the separator's first
    // character); empty for continuation lines and lines without one.
    std::string Name(size_t i) const;
    // The value of line i (after the name's separator, trimmed) joined with its
    // continuation lines, each trimmed, by one blank.
    std::string ValueFromIndex(size_t i) const;
    // Index of the first line of that name, or -1.
    long IndexOfName(std::string_view name) const;

    // ---- by name ----
    std::string Values(std::string_view name) const;
    // Replaces the line (and its continuation lines) of that name in place, or appends it;
    // an empty value removes the header. The value is folded when Folding is on.
    void SetValue(std::string_view name, std::string_view value);
    // The physical lines "name<sep>value" becomes (folding and breaks kept in `value`).
    std::vector<std::string> FoldedLines(std::string_view name, std::string_view value) const;

private:
    bool IsContinuation(size_t i) const;
    size_t LinesOf(size_t i) const; // the line and its continuation lines

    std::string FSeparator;
    std::vector<std::string> FLines;
};

// Wraps `line` at `width` columns after a blank, tab or comma outside double quotes, never
// inside the first `keep` characters; pieces lose trailing blanks, continuations begin with
// one blank. A piece with no break point stays whole.
std::vector<std::string> FoldHeaderLine(std::string_view line, size_t width, size_t keep);

} // namespace tzn
