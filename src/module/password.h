// The stored form of the two passwords of the settings file: scrambled with a key derived
// from the matching user name and written as upper-case hex. An obfuscation, not encryption.
#pragma once

#include <string>

namespace tzn {

// XORs Data with a 31-byte key derived from Key and a fixed phrase; its own inverse.
// Empty when Key is empty.
std::string ScrambleText(const std::string& key, const std::string& data);
// Hex text (two upper-case digits per byte) of ScrambleText(key, password).
std::string EncodePassword(const std::string& key, const std::string& password);
// Reverses EncodePassword. A trailing odd digit is ignored; conversion stops at the first pair
// that is not hex, and the result is cut short there.
std::string DecodePassword(const std::string& key, const std::string& stored);

} // namespace tzn
