// A private TZN_ROOT for one test: Windows-form paths such as "C:\MAIL\" land in a fresh
// temporary folder that is removed afterwards.
#pragma once

#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tzn::test {

class TempRoot {
public:
    TempRoot() {
        std::string tmpl = (SystemTempDirectory() / "tznstore-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        root_ = tmpl;
        ::setenv("TZN_ROOT", root_.c_str(), 1);
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& Path() const { return root_; }

private:
    std::filesystem::path root_;
};

inline std::string ReadAll(const std::string& windowsPath) {
    std::ifstream in(NativePath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& windowsPath, const std::string& data) {
    std::ofstream out(NativePath(windowsPath), std::ios::binary | std::ios::trunc);
    out << data;
}

} // namespace tzn::test
