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
    // Rotation happens only past the limit, never at it; a failed rename is not reported and
    // the file keeps growing until a later one succeeds.
    if (FileSize(fileName) > kActivityLogLimit)
        MoveFileReplace(fileName, fileName + DateToStr(now));
}

void AppendSessionLogLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(LogLock());
    AppendLine(SessionLogFileName(),
               FormatDateTime("dd.mm.yyyy, hh:nn:ss", Now()) + " - " + text + "\r\n");
}

} // namespace tzn
