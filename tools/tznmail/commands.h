// The command table of the tznmail tool. Each command group lives in its own file and
// registers itself with a static CommandRegistrar, so groups never touch each other's code.
// Text printed to the terminal is UTF-8; everything on disk stays CP1251.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tzn::tool {

// Exit statuses: 0 success, 1 the operation failed, 2 usage or a bad value.
enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

using CommandFn = std::function<int(const std::vector<std::string>& args)>;

struct Command {
    std::string group;   // first word, e.g. "settings"
    std::string name;    // second word, or empty for one-word commands ("check")
    std::string usage;   // one line for the help text
    CommandFn run;       // receives the words after the command's name
    std::string example; // one whole command line for the help text
};

void RegisterCommand(Command cmd);
const std::vector<Command>& Commands();

struct CommandRegistrar {
    explicit CommandRegistrar(Command cmd) { RegisterCommand(std::move(cmd)); }
};

} // namespace tzn::tool
