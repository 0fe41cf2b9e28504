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

// get, send and auto start a session and return when its closing line was logged; menu
// prints the menu tree; version the plug-in's version.
bool IsHeadlessCommand(const std::string& word);

// Runs the commands until one fails. Session log lines, the menu and the version go to out
// (UTF-8), failures to err. Returns 0 when every session closed and none logged a line
// beginning with "Ошибка", 1 otherwise.
int RunHeadlessCommands(const TPluginExports& plugin, TConfigHost& host,
                        const std::vector<std::string>& commands, const THeadlessOptions& options,
                        std::ostream& out, std::ostream& err);

} // namespace tzn
