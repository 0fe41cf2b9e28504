// The headless host's commands, run in order on the window thread after Load.
#pragma once

#include "host/config_host.h"
#include "host/plugin_library.h"

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace tzn {

struct THeadlessOptions {
    std::chrono::seconds Timeout{600};     // for a whole session
    std::chrono::seconds StartTimeout{10}; // for its first log line
    std::filesystem::path SessionLog = "LogFiles/TZNMail.log";
};

// A command word and the words that follow it (report: the shifts to tick).
struct THeadlessCommand {
    std::string Name;
    std::vector<std::string> Args;
};

// get, send and auto start a session and return when its closing line was logged; report
// runs the report preparation, answering the shift dialog, until its last box; request and
// requests make request letters; menu prints the menu tree; version the plug-in's version.
bool IsHeadlessCommand(const std::string& word);
// Whether the words after the command are its arguments.
bool TakesArguments(const std::string& command);

// Runs the commands until one fails. Session log lines, the preparation's box texts, the
// requests made, the menu and the version go to out (UTF-8), failures to err. Returns 0 when
// every session closed, none logged a line beginning with "Ошибка" and none saw an import of
// the host fail, every preparation made its letters and every request command made a
// request; 1 otherwise.
int RunHeadlessCommands(const TPluginExports& plugin, TConfigHost& host,
                        const std::vector<THeadlessCommand>& commands,
                        const THeadlessOptions& options, std::ostream& out, std::ostream& err);

} // namespace tzn
