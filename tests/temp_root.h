// A fresh TZN_ROOT (and current folder) per test, removed afterwards.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace tzn::test {

class TempRoot {
public:
    TempRoot() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tzn-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        FDir = tmpl;
        FOldCwd = std::filesystem::current_path();
        if (const char* old = std::getenv("TZN_ROOT"))
            FOldRoot = old, FHadRoot = true;
        ::setenv("TZN_ROOT", FDir.c_str(), 1);
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::current_path(FOldCwd, ec);
        if (FHadRoot)
            ::setenv("TZN_ROOT", FOldRoot.c_str(), 1);
        else
            ::unsetenv("TZN_ROOT");
        std::filesystem::remove_all(FDir, ec);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& Dir() const { return FDir; }
    // Native path of a path below the root, e.g. Path("C/WINDOWS/cnf.INI").
    std::filesystem::path Path(const std::string& rel) const { return FDir / rel; }

private:
    std::filesystem::path FDir, FOldCwd;
    std::string FOldRoot;
    bool FHadRoot = false;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The regular files anywhere below `dir`, sorted; none when it does not exist.
inline std::vector<std::filesystem::path> FilesBelow(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> out;
    if (std::filesystem::is_directory(dir))
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            if (e.is_regular_file())
                out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& content) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << content;
}

} // namespace tzn::test
