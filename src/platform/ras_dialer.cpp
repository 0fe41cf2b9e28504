#include "platform/ras_dialer.h"

#include "platform/shell_command.h"
#include "platform/thread_events.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace tzn {

namespace {

std::mutex RasConfigLock;

TRasPlatformConfig DefaultRasConfig() {
    auto env = [](const char* name, const char* def) {
        const char* v = std::getenv(name);
        return std::string(v && *v ? v : def);
    };
    return {
        env("TZN_PPP_PEERS", "/etc/ppp/peers"),
        env("TZN_PPP_DIAL", "exec pon \"$1\" updetach ${TZN_DIAL_USER:+user \"$TZN_DIAL_USER\"}"),
        env("TZN_PPP_HANGUP", "exec poff \"$1\"")};
}

TRasPlatformConfig& CurrentRasConfig() {
    static TRasPlatformConfig config = DefaultRasConfig();
    return config;
}

// The shell's status for a command it could not find or run.
constexpr int kShellNotFound = 127;
constexpr int kShellNotExecutable = 126;

// The next token of a pppd options line, quotes removed.
std::string NextToken(std::istringstream& line) {
    std::string token;
    line >> std::ws;
    if (line.peek() == '"' || line.peek() == '\'') {
        const char quote = static_cast<char>(line.get());
        std::getline(line, token, quote);
    } else {
        line >> token;
    }
    return token;
}

} // namespace

TRasPlatformConfig RasConfig() {
    const std::lock_guard<std::mutex> guard(RasConfigLock);
    return CurrentRasConfig();
}

void SetRasConfig(const TRasPlatformConfig& config) {
    const std::lock_guard<std::mutex> guard(RasConfigLock);
    CurrentRasConfig() = config;
}

TRasDialer::TRasDialer()
    : FConfig(RasConfig()), FEvents(CurrentThreadEvents()), FAlive(std::make_shared<bool>(true)) {}

TRasDialer::~TRasDialer() {
    *FAlive = false;
    if (HangupOnDestroy) {
        try {
            HangUp();
        } catch (...) { // NOLINT(bugprone-empty-catch): a destructor cannot report it
        }
    }
    StopDial();
}

bool TRasDialer::EntryExists() const {
    // An entry is a plain file name in the phonebook folder, never a path out of it.
    if (FEntryName.empty() || FEntryName == "." || FEntryName == ".." ||
        FEntryName.find('/') != std::string::npos)
        return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(
        std::filesystem::path(FConfig.PhonebookDir) / FEntryName, ec);
}

std::vector<std::string> TRasDialer::PhonebookEntries() const {
    std::vector<std::string> names;
    std::error_code ec;
    const std::filesystem::path dir(FConfig.PhonebookDir);
    if (!std::filesystem::exists(dir, ec))
        return names;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec))
            names.push_back(it->path().filename().string());
    if (ec)
        throw std::runtime_error("cannot read the phonebook folder " + dir.string() + ": " +
                                 ec.message());
    std::sort(names.begin(), names.end());
    return names;
}

void TRasDialer::SetEntryName(const std::string& name) {
    FEntryName = name;
    GetDialParams();
}

int TRasDialer::GetDialParams() {
    UserName.clear();
    Password.clear();
    if (!EntryExists())
        return kRasErrorEntryNotFound;
    std::ifstream in(std::filesystem::path(FConfig.PhonebookDir) / FEntryName);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream line(text.substr(0, text.find('#')));
        if (NextToken(line) == "user")
            UserName = NextToken(line);
    }
    return 0;
}

int TRasDialer::ErrorOfStatus(std::optional<int> status) {
    if (!status)
        return kRasErrorNoAnswer;
    if (*status == 0)
        return 0;
    if (*status == kShellNotFound || *status == kShellNotExecutable)
        return kRasErrorNotAvailable;
    return kRasErrorDialFailed;
}

int TRasDialer::Dial() {
    HangUp();
    if (!EntryExists())
        return kRasErrorEntryNotFound;
    std::shared_ptr<TShellCommand> command;
    try {
        command = std::make_shared<TShellCommand>(
            FConfig.DialCommand, std::vector<std::string>{FEntryName},
            TShellCommand::Environment{{"TZN_DIAL_USER", UserName},
                                       {"TZN_DIAL_PASSWORD", Password}});
    } catch (const std::exception&) {
        return kRasErrorNotAvailable;
    }
    FCommand = command;
    FDialing = true;
    const uint64_t generation = ++FGeneration;
    const auto deadline = std::chrono::steady_clock::now() + DialTimeout;
    // The watcher only waits and posts; the outcome is applied on the creating thread, and not
    // at all when this dialer is gone or has started another dial meanwhile.
    FWatcher = std::thread([command, deadline, generation, events = FEvents, alive = FAlive, this] {
        const std::optional<int> status = command->WaitUntil(deadline);
        if (!status)
            command->Kill();
        const TDialOutcome outcome{generation, ErrorOfStatus(status)};
        events->Post([alive, outcome, this] {
            if (*alive)
                FinishDial(outcome);
        });
    });
    return 0;
}

void TRasDialer::FinishDial(const TDialOutcome& outcome) {
    if (!FDialing || outcome.Generation != FGeneration)
        return;
    StopDial();
    FConnected = outcome.Error == 0;
    if (FConnected) {
        if (OnConnected)
            OnConnected(this);
    } else if (OnDialError) {
        OnDialError(this, outcome.Error);
    }
}

void TRasDialer::StopDial() {
    if (FCommand)
        FCommand->Abort();
    if (FWatcher.joinable())
        FWatcher.join();
    if (FCommand)
        FCommand->Kill();
    FCommand.reset();
    FDialing = false;
}

int TRasDialer::DialDlg() {
    HangUp();
    if (!EntryExists())
        return -1;
    std::optional<int> status;
    try {
        status = TShellCommand::Run(FConfig.DialCommand, {FEntryName},
                                    {{"TZN_DIAL_USER", UserName}, {"TZN_DIAL_PASSWORD", Password}},
                                    DialTimeout);
    } catch (const std::exception&) {
        return -1;
    }
    FConnected = status == 0;
    return FConnected ? 0 : -1;
}

void TRasDialer::HangUp() {
    const bool wasDialing = FDialing;
    StopDial();
    if (!wasDialing && !FConnected)
        return;
    FConnected = false;
    const std::optional<int> status =
        TShellCommand::Run(FConfig.HangUpCommand, {FEntryName}, {}, DialTimeout);
    if (!status)
        throw std::runtime_error("The hang-up command did not finish in time.");
    if (*status != 0)
        throw std::runtime_error("The hang-up command failed (exit status " +
                                 std::to_string(*status) + ").");
}

std::string TRasDialer::ErrorText(int code) {
    switch (code) {
    case -1:
    case kRasErrorNotAvailable:
        return "Function not Supported";
    case kRasErrorEntryNotFound:
        return "The phonebook entry was not found.";
    case kRasErrorDialFailed:
        return "The dial command reported an error.";
    case kRasErrorNoAnswer:
        return "The connection did not come up in time.";
    default:
        return "Dial-up error " + std::to_string(code) + ".";
    }
}

} // namespace tzn
