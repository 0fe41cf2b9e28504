#include "platform/paths.h"

#include <cctype>
#include <cstdlib>

namespace tzn {

std::filesystem::path TznRoot() {
    if (const char* root = std::getenv("TZN_ROOT"); root && *root)
        return root;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local/share/tznmail";
}

std::filesystem::path NativePath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        std::string rest = p.substr(2);
        while (!rest.empty() && rest.front() == '/')
            rest.erase(0, 1);
        const std::string drive(1,
                                static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))));
        std::filesystem::path out = TznRoot() / drive;
        if (!rest.empty())
            out /= rest;
        return out;
    }
    return p;
}

std::string WindowsDirectory() {
    return "C:\\WINDOWS";
}

std::filesystem::path SystemTempDirectory() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        return tmp;
    return "/tmp";
}

static size_t LastSeparator(const std::string& path) {
    return path.find_last_of("\\/:");
}

std::string ExtractFilePath(const std::string& path) {
    const size_t pos = LastSeparator(path);
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& path) {
    const size_t pos = LastSeparator(path);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string IncludeTrailingBackslash(const std::string& path) {
    if (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        return path;
    return path + "\\";
}

} // namespace tzn
