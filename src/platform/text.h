// Byte-level text helpers every layer may use.
#pragma once

#include <charconv>
#include <concepts>
#include <limits>
#include <string>
#include <string_view>

namespace tzn {

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads `s` as an unsigned decimal number: the whole text must be digits (no sign, no
// blanks) and the value must lie within lo..hi. Anything else, an overflowing number
// included, gives false and leaves `value` alone; a field read from a peer or a file never
// wraps around into a plausible value.
template <std::integral T>
bool ParseDecimal(std::string_view s, T& value, T lo = 0, T hi = std::numeric_limits<T>::max()) {
    if (s.empty() || s.front() < '0' || s.front() > '9')
        return false;
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

// A menu caption without its "&" hot-key markers, as it reads on screen.
inline std::string WithoutHotkeys(std::string_view caption) {
    std::string out;
    for (char c : caption)
        if (c != '&')
            out += c;
    return out;
}

} // namespace tzn
