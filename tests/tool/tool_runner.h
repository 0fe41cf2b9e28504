// Running the tznmail tool, or any shell command line, as a process from a test.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tzn::test {

// What the process left: its exit status (-1 when it could not start or did not exit
// normally) and its standard output.
struct ToolRun {
    int Status = -1;
    std::string Out;
};

// Runs a shell command line and captures its standard output.
inline ToolRun RunCommand(const std::string& commandLine) {
    ToolRun r;
    FILE* p = ::popen(commandLine.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.Out.append(buf, n);
    const int st = ::pclose(p);
    r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// One word quoted for the shell.
inline std::string ShellQuote(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The tool's command line with the given words, each quoted for the shell.
inline std::string ToolCommand(const std::vector<std::string>& args = {}) {
    std::string cmd = ShellQuote(TZN_TOOL_PATH);
    for (const std::string& a : args)
        cmd += " " + ShellQuote(a);
    return cmd;
}

} // namespace tzn::test
