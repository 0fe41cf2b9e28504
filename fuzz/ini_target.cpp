#include <string>

#include "fuzz/mail_targets.h"
#include "platform/ini_file.h"

namespace tzn::fuzz {

void FuzzIni(const uint8_t* data, size_t size) {
    // The first line names the section and key looked up ("section/key"), the rest is the file.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t eol = input.find('\n');
    const std::string query = input.substr(0, eol);
    const std::string text = eol == std::string::npos ? std::string() : input.substr(eol + 1);
    const size_t slash = query.find('/');
    const std::string section = query.substr(0, slash);
    const std::string key = slash == std::string::npos ? std::string() : query.substr(slash + 1);
    TIniContent ini(text);
    (void)ini.ReadString(section, key, "default");
    (void)ini.ReadInteger(section, key, -1);
    (void)ini.ReadBool(section, key, false);
    (void)ini.ValueExists(section, key);
    (void)ini.SectionExists(section);
    for (const std::string& name : ini.ReadSection(section))
        (void)ini.ReadString(section, name, {});
}

} // namespace tzn::fuzz
