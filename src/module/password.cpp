#include "module/password.h"

#include <array>

#include "platform/text.h"

namespace tzn {
namespace {

constexpr std::string_view kPhrase = "lanternsdriftovercoldharborwall";
static_assert(kPhrase.size() == 31);

} // namespace

std::string ScrambleText(const std::string& key, const std::string& data) {
    if (key.empty())
        return {};
    std::array<unsigned char, kPhrase.size()> derived{};
    for (size_t j = 0; j < derived.size(); ++j)
        derived[j] = static_cast<unsigned char>(kPhrase[j]) ^
                     static_cast<unsigned char>(key[j % key.size()]);
    std::string out(data.size(), '\0');
    for (size_t i = 0; i < data.size(); ++i)
        out[i] =
            static_cast<char>(static_cast<unsigned char>(data[i]) ^ derived[i % derived.size()]);
    return out;
}

std::string EncodePassword(const std::string& key, const std::string& password) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::string scrambled = ScrambleText(key, password);
    std::string hex;
    hex.reserve(scrambled.size() * 2);
    for (char c : scrambled) {
        const auto b = static_cast<unsigned char>(c);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

std::string DecodePassword(const std::string& key, const std::string& stored) {
    std::string bytes;
    bytes.reserve(stored.size() / 2);
    for (size_t i = 0; i + 1 < stored.size(); i += 2) {
        const int hi = HexDigitValue(stored[i]);
        const int lo = HexDigitValue(stored[i + 1]);
        if (hi < 0 || lo < 0)
            break; // cut short at the first pair that is not hex
        bytes += static_cast<char>(hi << 4 | lo);
    }
    return ScrambleText(key, bytes);
}

} // namespace tzn
