// Reading what the process writes to its standard error while passing it on unchanged. The
// plug-in's boxes have no window in a headless host: each one is written to standard error as
// one line ("caption: text"), and this is how the host sees them.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tzn {

class TStderrTap {
public:
    // Puts a pipe in place of file descriptor 2; throws std::runtime_error when it cannot.
    TStderrTap();
    // Gives file descriptor 2 back and passes on what is still in the pipe.
    ~TStderrTap();
    TStderrTap(const TStderrTap&) = delete;
    TStderrTap& operator=(const TStderrTap&) = delete;

    // The next complete line written since the tap was put in place (without its line end);
    // false when none is waiting.
    bool Next(std::string& line);

private:
    void Pump();

    int FSaved = -1; // the real standard error
    int FRead = -1;
    std::thread FReader;
    std::mutex FLock;
    std::deque<std::string> FLines;
    std::string FPartial;
};

} // namespace tzn
