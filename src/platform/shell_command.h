// A shell command run as a child process in a process group of its own, so that a command that
// hangs can be ended together with everything it started.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tzn {

class TShellCommand {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Starts "/bin/sh -c <command> sh <args...>": the arguments reach the script as "$1".. and
    // are never parsed by the shell. `env` is added to this process's environment. Standard
    // input and output are /dev/null; standard error is inherited. Throws std::runtime_error
    // when the command cannot be started.
    TShellCommand(const std::string& command, const std::vector<std::string>& args,
                  const Environment& env = {});
    // Ends a command that still runs (see Kill).
    ~TShellCommand();
    TShellCommand(const TShellCommand&) = delete;
    TShellCommand& operator=(const TShellCommand&) = delete;

    // Waits until the command ends, the deadline passes or Abort is called. Returns the exit
    // status (128 + signal number when a signal ended it), nothing when it still runs.
    std::optional<int> WaitUntil(std::chrono::steady_clock::time_point deadline);
    // Makes a WaitUntil in progress on another thread return at once (and every later one).
    void Abort();
    // Ends the command's process group (TERM, then KILL after a short grace) and reaps it.
    void Kill();

    // Runs a command to its end or the time limit (then it is killed): the exit status, or
    // nothing when it was killed for taking too long.
    static std::optional<int> Run(const std::string& command, const std::vector<std::string>& args,
                                  const Environment& env, std::chrono::milliseconds limit);

private:
    std::optional<int> Reap(bool block);

    pid_t FPid = -1;
    std::optional<int> FStatus;
    std::mutex FLock;
    std::condition_variable FAborted;
    bool FAbort = false;
};

} // namespace tzn
