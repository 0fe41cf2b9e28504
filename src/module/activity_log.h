// The activity log: one CP1251 text file, one line (CR LF) per entry, appended by two writers
// that share LogLock. Neither creates the LogFiles folder.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace tzn {

// Module entries are rotated when a module entry takes the file past this size.
constexpr int64_t kActivityLogLimit = 1048576;

// "C:\PLAV\LogFiles\TZNMail.log": where module entries go.
std::string ModuleLogFileName();
// "LogFiles\TZNMail.log", relative to the current folder: where session entries go.
std::string SessionLogFileName();

// Serialises every append to the log (and the rotation after a module entry).
std::mutex& LogLock();

// Appends "<short date> - <text>" to the module log, then renames the file to its name plus
// the short date when it has grown past kActivityLogLimit; when that name is taken by an
// earlier rotation of the day, to the first free one of name + date + ".1", ".2", ... (a
// failed rename is ignored).
// Throws std::runtime_error when the file cannot be opened or written; the lock is released.
void WriteActivityLog(const std::string& text);

// How a failure that is no standard exception (a host may throw anything) is reported.
inline constexpr const char* kUnknownError = "unknown error";

// The file half of a session log line (the mailbox window's copy is the session's own job
// and must be delivered before this is called): appends "dd.mm.yyyy, hh:nn:ss - <text>" to
// the session log under LogLock, without a size check. Throws like WriteActivityLog.
void AppendSessionLogLine(const std::string& text);

} // namespace tzn
