// Following the session log file ("LogFiles/TZNMail.log" in the working folder) while a
// session writes it.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

namespace tzn {

class TSessionLogFollower {
public:
    // Starts at the file's current end (the lines written before are not this run's).
    explicit TSessionLogFollower(std::filesystem::path file);

    // Reads what was appended since the last call; false when no complete line is waiting.
    // A file that shrank (rotated) is read again from its start.
    bool Next(std::string& line);

private:
    void ReadMore();

    std::filesystem::path FFile;
    std::uintmax_t FOffset = 0;
    std::string FPartial;
    std::deque<std::string> FLines;
};

// A log line's text without its time stamp ("dd.mm.yyyy, hh:nn:ss - " of a session entry or
// "dd.mm.yyyy - " of a module entry); a line without one is returned whole.
std::string LogLineText(const std::string& line);
// The closing line of every session: 37 "=".
bool IsSessionEndLine(const std::string& text);

} // namespace tzn
