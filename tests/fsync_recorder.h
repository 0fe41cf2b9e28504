// Records which files and folders reach fsync, by the path their descriptor names at that
// moment. Include it in exactly one test file of an executable: its fsync stands in for the
// C library's for the whole program (and calls it).
#pragma once

#include <dlfcn.h>
#include <limits.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace tzn::test {

inline std::mutex SyncedPathsLock;
inline std::vector<std::string> SyncedPaths;

// The paths synced since the last call, in order.
inline std::vector<std::string> TakeSyncedPaths() {
    std::lock_guard<std::mutex> lock(SyncedPathsLock);
    std::vector<std::string> out;
    out.swap(SyncedPaths);
    return out;
}

} // namespace tzn::test

extern "C" int fsync(int fd) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    {
        std::lock_guard<std::mutex> lock(tzn::test::SyncedPathsLock);
        tzn::test::SyncedPaths.emplace_back(path, n > 0 ? static_cast<size_t>(n) : 0);
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}
