#include "host/stderr_tap.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tzn {
namespace {

void WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return; // the real standard error is gone: nothing to tell anybody
        p += w;
        n -= static_cast<size_t>(w);
    }
}

} // namespace

TStderrTap::TStderrTap() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot read standard error: ") +
                                 std::strerror(errno));
    std::fflush(stderr);
    FSaved = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (FSaved < 0 || ::dup2(fds[1], 2) < 0) {
        const int e = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        if (FSaved >= 0)
            ::close(FSaved);
        throw std::runtime_error(std::string("cannot read standard error: ") + std::strerror(e));
    }
    ::close(fds[1]); // descriptor 2 is now the pipe's only writing end
    FRead = fds[0];
    FReader = std::thread([this] { Pump(); });
}

TStderrTap::~TStderrTap() {
    std::fflush(stderr);
    ::dup2(FSaved, 2); // closes the writing end: the reader sees the end of the pipe
    FReader.join();
    ::close(FRead);
    ::close(FSaved);
}

void TStderrTap::Pump() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(FRead, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        WriteAll(FSaved, buffer, static_cast<size_t>(n));
        std::lock_guard<std::mutex> lock(FLock);
        FPartial.append(buffer, static_cast<size_t>(n));
        for (size_t nl; (nl = FPartial.find('\n')) != std::string::npos;) {
            FLines.push_back(FPartial.substr(0, nl));
            FPartial.erase(0, nl + 1);
        }
    }
}

bool TStderrTap::Next(std::string& line) {
    std::lock_guard<std::mutex> lock(FLock);
    if (FLines.empty())
        return false;
    line = std::move(FLines.front());
    FLines.pop_front();
    return true;
}

} // namespace tzn
