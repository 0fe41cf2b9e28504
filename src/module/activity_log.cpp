#include "module/activity_log.h"

#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tzn {
namespace {

// Bounds the search for a free name; a day would need about 100 GB of log to reach it.
constexpr int kMaxRotationsPerDay = 100000;

// Opens, appends one line, flushes and closes; throws with the reason when any of it fails.
void AppendLine(const std::string& fileName, const std::string& line) {
    FILE* f = std::fopen(NativePath(fileName).c_str(), "ab");
    if (!f)
        throw std::runtime_error("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    const int writeErr = errno;
    const bool flushed = written && std::fflush(f) == 0;
    const int flushErr = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !flushed || !closed)
        throw std::runtime_error("Cannot write to file \"" + fileName + "\". " +
                                 std::strerror(!written   ? writeErr
                                               : !flushed ? flushErr
                                                          : errno));
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
