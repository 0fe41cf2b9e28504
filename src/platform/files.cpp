#include "platform/files.h"

#include "platform/cp1251.h"
#include "platform/paths.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tzn {
namespace fs = std::filesystem;

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(NativePath(path), ec);
}

bool DirectoryExists(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(NativePath(path), ec);
}

bool DeleteFile(const std::string& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(NativePath(from), NativePath(to), ec);
    if (!ec)
        return true;
    // Across file systems a rename fails: copy, then remove the source.
    fs::copy_file(NativePath(from), NativePath(to), fs::copy_options::overwrite_existing, ec);
    if (ec)
        return false;
    return DeleteFile(from);
}

bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
    std::error_code ec;
    fs::copy_file(NativePath(from), NativePath(to),
                  failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool ForceDirectories(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code ec;
    const fs::path native = NativePath(path);
    fs::create_directories(native, ec);
    return fs::is_directory(native, ec);
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

static bool WildcardMatch(const std::string& name, size_t n, const std::string& pat, size_t p) {
    while (p < pat.size()) {
        if (pat[p] == '*') {
            for (size_t k = n; k <= name.size(); ++k)
                if (WildcardMatch(name, k, pat, p + 1))
                    return true;
            return false;
        }
        if (n >= name.size())
            return false;
        if (pat[p] != '?' && AnsiUpperChar(pat[p]) != AnsiUpperChar(name[n]))
            return false;
        ++n;
        ++p;
    }
    return n == name.size();
}

std::vector<std::string> FindFiles(const std::string& dir, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(NativePath(dir), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (!it->is_regular_file(fec))
            continue;
        std::string name = it->path().filename().string();
        if (WildcardMatch(name, 0, pattern, 0))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool CreateFileExclusive(const std::string& path) {
    const int fd = ::open(NativePath(path).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace tzn
