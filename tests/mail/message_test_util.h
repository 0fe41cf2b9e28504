// Helpers for the message tests: a private temporary folder, whole-file reads and writes,
// and a letter's lines.
#pragma once

#include <unistd.h>

#include "mail/exceptions.h"
#include "mail/message.h"
#include "mail/message_reader.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tzn::test {

// The header of a multipart letter with boundary "BB"; a test appends its parts.
inline const std::string kMultipartHead = "From: a@b.ru\r\nMIME-Version: 1.0\r\n"
                                          "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n";

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tznmsgXXXXXX").string();
        FPath = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// CR LF separated lines; a final CR LF makes no empty last line.
inline std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t p = text.find("\r\n", start);
        if (p == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, p - start));
        start = p + 2;
    }
    return out;
}

inline std::string Bytes(size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 12345u;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

inline size_t CountFiles(const std::string& dir) {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(dir))
        n += e.is_regular_file() ? 1 : 0;
    return n;
}

// Loads `text` into `m` with temporary files in `dir`; the text of an `Error` raised, empty if
// none (another error escapes to the test).
template <class Error = EMxException>
std::string TryLoad(TMxMessage& m, const TempDir& dir, const std::string& text) {
    m.AttachmentTempDirectory = dir.Path();
    std::istringstream in(text);
    try {
        ReadMessageStream(m, in);
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

} // namespace tzn::test
