// The command table of the tznmail tool. Each command group lives in its own file and
// registers itself with a static CommandRegistrar, so groups never touch each other's code.
// Text printed to the terminal is UTF-8; everything on disk stays CP1251.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tzn::tool {

// Exit statuses: 0 success, 1 the operation failed, 2 usage or a bad value.
enum TExitCode { Ok = 0, Failed = 1, Usage = 2 };

using CommandFn = std::function<int(const std::vector<std::string>& args)>;

struct TCommand {
    std::string Group;   // first word, e.g. "settings"
    std::string Name;    // second word, or empty for one-word commands ("check")
    std::string Usage;   // one line for the help text
    CommandFn Run;       // receives the words after the command's name
    std::string Example; // one whole command line for the help text
};

void RegisterCommand(TCommand cmd);
const std::vector<TCommand>& Commands();

struct TCommandRegistrar {
    explicit TCommandRegistrar(TCommand cmd) { RegisterCommand(std::move(cmd)); }
};

} // namespace tzn::tool
