// tznhost: a host application for the TZNMail plug-in.
#include "host/config_host.h"
#include "host/desktop.h"
#include "host/headless.h"
#include "host/host_config.h"
#include "host/plugin_library.h"
#include "platform/cp1251.h"
#include "platform/files.h"

#include <QApplication>

#include <charconv>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    R"(Usage: tznhost --config FILE [--plugin FILE] [--quit-after MS] [--screenshot PNG]
       tznhost --config FILE [--plugin FILE] --headless [--timeout S] [--start-timeout S]
               COMMAND...

Loads the TZNMail plug-in (default: libtznmail.so beside tznhost, else in ../lib) like the
back-office application does, answering its questions from the configuration FILE (INI,
UTF-8; see the README). Without --headless it shows its main window, whose menu holds the
plug-in's commands (the mailbox window opens from them); closing it, SIGTERM or Ctrl-C
unloads the plug-in, waiting for a running session, and ends the host.

Headless commands, run in order (a failing one ends the run):
  get      clicks the plug-in's "Получить почту" menu command and follows the session
  send     clicks "Отправить почту" and follows the session
  auto     calls AutoSendMail and follows the session
  report [SHIFT...]
           station: clicks "Создать письмо-отчет", ticks the listed shifts in the shift
           dialog (none listed: none ticked) and presses OK; prints the preparation's box
           texts until the last one
  request  office: clicks "Создать письмо-запрос" (the station the configuration selects)
  requests office: clicks "Создать письмо-запрос для всех АЗС"; both print each station a
           request was made for
  menu     prints the menu tree the plug-in built
  version  prints the plug-in's version
A session is followed in LogFiles/TZNMail.log below the working folder (created when
missing), and each of its lines is printed as it is logged, until the closing line.

Options:
  --quit-after MS    desktop: close by itself MS milliseconds after the window is shown
  --screenshot PNG   desktop: save a picture of the main window once it is shown
  --timeout S        give up on a session after S seconds (default 600)
  --start-timeout S  a session that logs nothing within S seconds did not start (default 10)

Examples:
  tznhost --config office.ini                     the office's window; mail from its menu
  tznhost --config office.ini --quit-after 5000 --screenshot office.png
  tznhost --config azs12.ini --headless get       collect letters, process, send replies
  tznhost --config azs12.ini --headless send      deliver OutBox only
  tznhost --config azs12.ini --headless auto      the session AutoSendMail starts
  tznhost --config azs12.ini --headless menu version
  tznhost --config azs12.ini --headless report 17 18  prepare the report of shifts 17 and 18
  tznhost --config office.ini --headless request  a request letter to the selected station
  tznhost --config office.ini --headless requests send  requests to every station, sent

A received file the host cannot import (say a data archive that is damaged, reaches out of
its folder, or unpacks past the limits on size, entries or compression ratio; see the README)
is reported on standard error as "tznhost: import of FILE into FOLDER failed: REASON".

Exit status: 0 every command succeeded and no session line began with "Ошибка"; 1 a session
failed, did not start or did not end, an import during a session failed, a report made no
letters (or listed a shift the dialog does not show), a request command made no request, or
the plug-in's Load failed; 2 a bad command line, configuration or plug-in file.
)";

struct TCommandLine {
    std::filesystem::path Config, Plugin;
    bool Headless = false, Help = false;
    tzn::THeadlessOptions Options;
    tzn::TDesktopOptions Desktop;
    std::vector<tzn::THeadlessCommand> Commands;
};

class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int PositiveNumber(const std::string& option, const std::string& value, const char* unit) {
    int n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || n <= 0)
        throw TUsageError(option + ": \"" + value + "\" is not a positive number of " + unit);
    return n;
}

std::chrono::seconds Seconds(const std::string& option, const std::string& value) {
    return std::chrono::seconds(PositiveNumber(option, value, "seconds"));
}

std::chrono::milliseconds Milliseconds(const std::string& option, const std::string& value) {
    return std::chrono::milliseconds(PositiveNumber(option, value, "milliseconds"));
}

TCommandLine ParseCommandLine(int argc, char** argv) {
    TCommandLine c;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw TUsageError(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h")
            c.Help = true;
        else if (a == "--config")
            c.Config = value();
        else if (a == "--plugin")
            c.Plugin = value();
        else if (a == "--headless")
            c.Headless = true;
        else if (a == "--timeout")
            c.Options.Timeout = Seconds(a, value());
        else if (a == "--start-timeout")
            c.Options.StartTimeout = Seconds(a, value());
        else if (a == "--quit-after")
            c.Desktop.QuitAfter = Milliseconds(a, value());
        else if (a == "--screenshot")
            c.Desktop.Screenshot = value();
        else if (tzn::IsHeadlessCommand(a))
            c.Commands.push_back({a, {}});
        else if (!c.Commands.empty() && tzn::TakesArguments(c.Commands.back().Name) &&
                 a.rfind('-', 0) != 0)
            c.Commands.back().Args.push_back(a);
        else
            throw TUsageError("unknown argument \"" + a + "\"");
    }
    if (c.Help)
        return c;
    if (c.Config.empty())
        throw TUsageError("--config FILE is required");
    if (!c.Headless && !c.Commands.empty())
        throw TUsageError("commands run only with --headless");
    if (c.Headless && (c.Desktop.QuitAfter || !c.Desktop.Screenshot.empty()))
        throw TUsageError("--quit-after and --screenshot belong to the desktop mode");
    if (c.Headless && c.Commands.empty())
        throw TUsageError("--headless needs at least one command");
    if (c.Plugin.empty())
        c.Plugin = tzn::TPluginLibrary::DefaultPath();
    return c;
}

// The folders the host suite's installation provides: the plug-in logs into them and
// creates neither.
void EnsureLogFolders() {
    std::error_code ec;
    std::filesystem::create_directories("LogFiles", ec);
    tzn::ForceDirectories("C:\\PLAV\\LogFiles");
}

int Run(int argc, char** argv) {
    TCommandLine cl;
    std::optional<tzn::TConfigHost> host;
    std::optional<tzn::TPluginLibrary> plugin;
    try {
        cl = ParseCommandLine(argc, argv);
        if (cl.Help) {
            std::cout << kUsage;
            return 0;
        }
        host.emplace(tzn::ReadHostConfig(cl.Config), &std::cerr);
        plugin.emplace(cl.Plugin);
    } catch (const TUsageError& e) {
        std::cerr << "tznhost: " << e.what() << "\n(tznhost --help tells more)" << std::endl;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tznhost: " << e.what() << std::endl;
        return 2;
    }
    // Headless, Qt draws offscreen: the plug-in's windows exist, hidden.
    if (cl.Headless)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    EnsureLogFolders();
    const tzn::TPluginExports& exports = plugin->Exports();
    if (const int rc = exports.Load(nullptr, host->Config().Mode, &*host); rc != 0) {
        std::cerr << "tznhost: the plug-in's Load failed (result " << rc << ")" << std::endl;
        exports.UnLoad();
        return 1;
    }
    int status = 0;
    if (cl.Headless) {
        status =
            tzn::RunHeadlessCommands(exports, *host, cl.Commands, cl.Options, std::cout, std::cerr);
    } else {
        status = tzn::RunDesktop(*host, cl.Desktop, std::cerr);
    }
    exports.UnLoad();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "tznhost: " << e.what() << std::endl;
        return 1;
    }
}
