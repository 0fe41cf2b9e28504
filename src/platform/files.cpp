#include "platform/files.h"

#include "platform/cp1251.h"
#include "platform/paths.h"
#include "platform/sync_group.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
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

TMoveResult MoveFileNoReplace(const std::string& from, const std::string& to) {
    const auto src = NativePath(from);
    const auto dst = NativePath(to);
    if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
        return TMoveResult::Done;
    if (errno == EEXIST)
        return TMoveResult::Taken;
    if (errno != EINVAL && errno != ENOSYS)
        return TMoveResult::Failed;
    // A file system that cannot rename without replacing: hard-link the new name (which fails
    // when it is taken), then drop the old one; without hard links, look before renaming.
    if (::link(src.c_str(), dst.c_str()) == 0) {
        ::unlink(src.c_str());
        return TMoveResult::Done;
    }
    if (errno == EEXIST)
        return TMoveResult::Taken;
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EMLINK)
        return TMoveResult::Failed;
    // Without hard links either: claim the name with an exclusive create, then move the file
    // onto the placeholder this process owns.
    if (!CreateFileExclusive(to)) {
        struct stat st {};
        return ::lstat(dst.c_str(), &st) == 0 ? TMoveResult::Taken : TMoveResult::Failed;
    }
    if (::rename(src.c_str(), dst.c_str()) != 0) {
        ::unlink(dst.c_str());
        return TMoveResult::Failed;
    }
    return TMoveResult::Done;
}

bool WriteAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

namespace {

void SyncPath(const std::string& path, int flags, const char* what) {
    // Inside a session's group the flush waits for the group's barrier.
    if (TSyncGroup* group = TSyncGroup::Current()) {
        group->Note(path);
        return;
    }
    const int fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (::fsync(fd) != 0)
            err = errno;
        ::close(fd);
    }
    if (err != 0)
        throw std::runtime_error(std::string("Cannot flush ") + what + " " + path +
                                 " to disk: " + std::strerror(err));
}

} // namespace

void SyncFile(const std::string& path) {
    SyncPath(path, O_RDONLY, "file");
}

void SyncFolder(const std::string& path) {
    SyncPath(path, O_RDONLY | O_DIRECTORY, "folder");
}

} // namespace tzn
