#include "platform/shell_command.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

extern char** environ; // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace tzn {

namespace {

// How often a waiting caller looks whether the child has ended.
constexpr auto kPollStep = std::chrono::milliseconds(10);
// Time a command gets to end after TERM before it is killed outright.
constexpr auto kTermGrace = std::chrono::milliseconds(500);

int StatusOf(int raw) {
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return 255;
}

} // namespace

TShellCommand::TShellCommand(const std::string& command, const std::vector<std::string>& args,
                             const Environment& env) {
    std::vector<std::string> argv{"/bin/sh", "-c", command, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    argp.reserve(argv.size() + 1);
    for (std::string& a : argv)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    std::map<std::string, std::string> merged;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq)
            merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
    for (const auto& [k, v] : env)
        merged[k] = v;
    std::vector<std::string> envs;
    envs.reserve(merged.size());
    for (const auto& [k, v] : merged)
        envs.push_back(k + '=' + v); // NOLINT(performance-inefficient-string-concatenation)
    std::vector<char*> envp;
    envp.reserve(envs.size() + 1);
    for (std::string& e : envs)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const int rc = ::posix_spawn(&FPid, "/bin/sh", &actions, &attr, argp.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        FPid = -1;
        throw std::runtime_error("cannot start \"" + command + "\": " + std::strerror(rc));
    }
}

TShellCommand::~TShellCommand() {
    Kill();
}

std::optional<int> TShellCommand::Reap(bool block) {
    if (FStatus || FPid < 0)
        return FStatus;
    int raw = 0;
    pid_t r;
    do {
        r = ::waitpid(FPid, &raw, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == FPid)
        FStatus = StatusOf(raw);
    else if (r < 0)
        FStatus = 255; // not our child any more: nothing left to wait for
    return FStatus;
}

std::optional<int> TShellCommand::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        if (auto status = Reap(false))
            return status;
        const auto now = std::chrono::steady_clock::now();
        if (FAbort || now >= deadline)
            return std::nullopt;
        FAborted.wait_for(lock,
                          std::min<std::chrono::steady_clock::duration>(kPollStep, deadline - now));
    }
}

void TShellCommand::Abort() {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FAbort = true;
    }
    FAborted.notify_all();
}

void TShellCommand::Kill() {
    const std::lock_guard<std::mutex> guard(FLock);
    if (FPid < 0 || Reap(false))
        return;
    ::kill(-FPid, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + kTermGrace;
    while (!Reap(false) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kPollStep);
    if (!FStatus) {
        ::kill(-FPid, SIGKILL);
        Reap(true);
    }
}

std::optional<int> TShellCommand::Run(const std::string& command,
                                      const std::vector<std::string>& args, const Environment& env,
                                      std::chrono::milliseconds limit) {
    TShellCommand c(command, args, env);
    auto status = c.WaitUntil(std::chrono::steady_clock::now() + limit);
    if (!status)
        c.Kill();
    return status;
}

} // namespace tzn
