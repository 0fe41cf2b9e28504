#include "platform/folder_lock.h"

#include "platform/paths.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace tzn {

bool TFolderLock::Acquire(const std::string& folder, const std::string& lockName, int waitMs,
                          const std::function<bool()>& cancelled) {
    Release();
    const std::string file = (NativePath(folder) / lockName).string();
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("Cannot open lock file \"" + file + "\". " + std::strerror(errno));
    // flock, not fcntl locks: those belong to the process, so a second session of this very
    // process would pass, and closing any descriptor of the file would drop them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            FFd = fd;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error("Cannot lock file \"" + file + "\". " + std::strerror(error));
        }
        if (std::chrono::steady_clock::now() >= deadline || (cancelled && cancelled())) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void TFolderLock::Release() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}

} // namespace tzn
