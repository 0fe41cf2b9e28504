#include "module/activity_log.h"

#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace tzn {
namespace {

// Bounds the search for a free name; a day would need about 100 GB of log to reach it.
constexpr int kMaxRotationsPerDay = 100000;

// Opens, appends one line and closes; throws with the reason when any of it fails. One write
// to a file opened for appending, so lines of two processes never interleave.
void AppendLine(const std::string& fileName, const std::string& line) {
    const int fd =
        ::open(NativePath(fileName).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        throw std::runtime_error("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    size_t done = 0;
    int writeErr = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            writeErr = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    const bool closed = ::close(fd) == 0;
    if (writeErr != 0 || !closed)
        throw std::runtime_error("Cannot write to file \"" + fileName + "\". " +
                                 std::strerror(writeErr != 0 ? writeErr : errno));
}

// Moves the full log aside under its name plus the date; a day that fills it more than once
// keeps every part: the later ones take the next free name (".1", ".2", ...). Failures are not
// reported: the file keeps growing until a later rotation succeeds.
void Rotate(const std::string& fileName, const std::string& date) {
    const std::string base = fileName + date;
    for (int n = 0; n < kMaxRotationsPerDay; ++n) {
        const std::string name = n == 0 ? base : base + "." + std::to_string(n);
        if (MoveFileNoReplace(fileName, name) != TMoveResult::Taken)
            return;
    }
}

} // namespace

std::string ModuleLogFileName() {
    return "C:\\PLAV\\LogFiles\\TZNMail.log";
}
std::string SessionLogFileName() {
    return "LogFiles\\TZNMail.log";
}

std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
}

void WriteActivityLog(const std::string& text) {
    std::lock_guard<std::mutex> lock(LogLock());
    const TDateTime now = Now();
    const std::string fileName = ModuleLogFileName();
    AppendLine(fileName, DateToStr(now) + " - " + text + "\r\n");
    // Rotation happens only past the limit, never at it.
    if (FileSize(fileName) > kActivityLogLimit)
        Rotate(fileName, DateToStr(now));
}

void AppendSessionLogLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(LogLock());
    AppendLine(SessionLogFileName(),
               FormatDateTime("dd.mm.yyyy, hh:nn:ss", Now()) + " - " + text + "\r\n");
}

} // namespace tzn
