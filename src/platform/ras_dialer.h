// The dial-up dialer, in place of the system's remote access service.
//
// Phonebook entries are the files of a phonebook folder (the peers of pppd). Dialing runs the
// dial command and hanging up the hang-up command, each a shell command that receives the
// entry name as "$1" and the dial parameters in TZN_DIAL_USER and TZN_DIAL_PASSWORD. The dial
// command's exit status is the outcome: 0 means the connection is up, anything else that it
// failed. The default "pon NAME updetach" has pppd return only once the link is up or has
// failed, which is what makes its exit status that answer.
//
// A dial that neither ends nor fails is ended after DialTimeout and reported as failed
// (kRasErrorNoAnswer).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tzn {

class TShellCommand;
class TThreadEventQueue;

// Where the dialer finds its entries and what it runs. Defaults: $TZN_PPP_PEERS or
// "/etc/ppp/peers"; $TZN_PPP_DIAL or the pon command above; $TZN_PPP_HANGUP or
// "exec poff \"$1\"".
struct TRasPlatformConfig {
    std::string PhonebookDir;
    std::string DialCommand;
    std::string HangUpCommand;
};
TRasPlatformConfig RasConfig();
void SetRasConfig(const TRasPlatformConfig& config); // dialers created afterwards use it

// The dialer's error codes.
inline constexpr int kRasErrorEntryNotFound = 623; // no phonebook file of that name
inline constexpr int kRasErrorDialFailed = 651;    // the dial command exited non-zero
inline constexpr int kRasErrorNoAnswer = 678;      // the dial took longer than DialTimeout
inline constexpr int kRasErrorNotAvailable = 711;  // the dial command cannot run at all

inline constexpr std::chrono::milliseconds kDefaultDialTimeout = std::chrono::seconds(120);

class TRasDialer {
public:
    // Events arrive on the creating thread, while it processes its thread events
    // (ProcessThreadEvents).
    std::function<void(TRasDialer* sender)> OnConnected;
    std::function<void(TRasDialer* sender, int error)> OnDialError;

    TRasDialer(); // takes the configuration in force now
    // With HangupOnDestroy on (the default), hangs up a connection it made (errors ignored);
    // a dial still in progress is always ended.
    ~TRasDialer();
    TRasDialer(const TRasDialer&) = delete;
    TRasDialer& operator=(const TRasDialer&) = delete;

    bool HangupOnDestroy = true;
    std::chrono::milliseconds DialTimeout = kDefaultDialTimeout;

    // Setting the entry also loads its dial parameters.
    void SetEntryName(const std::string& name);
    const std::string& EntryName() const { return FEntryName; }
    // Loads the entry's dial parameters again: the "user" option of its file becomes UserName;
    // no password is stored in a phonebook file. 0, or kRasErrorEntryNotFound.
    int GetDialParams();
    std::string UserName;
    std::string Password;

    // Hangs up what this dialer holds, then starts the dial. 0 when it was started, otherwise
    // an error code (no event follows then).
    int Dial();
    // The interactive dial: the dial runs to its end before this returns. 0 when the connection
    // is up, -1 otherwise.
    int DialDlg();
    // Ends a dial in progress and takes down a connection this dialer made, by the hang-up
    // command; returns when that command has ended. Does nothing when neither exists. Throws
    // std::runtime_error when the hang-up command fails.
    void HangUp();
    bool Connected() const { return FConnected; }

    // The names of the phonebook entries, sorted; none when the phonebook folder is missing.
    // Throws std::runtime_error when the folder cannot be read.
    std::vector<std::string> PhonebookEntries() const;

    // The text for an error code; "Function not Supported" for -1 and kRasErrorNotAvailable.
    static std::string ErrorText(int code);

private:
    struct TDialOutcome {
        uint64_t Generation;
        int Error; // 0 when connected
    };
    bool EntryExists() const;
    void StopDial();
    void FinishDial(const TDialOutcome& outcome);
    static int ErrorOfStatus(std::optional<int> status);

    TRasPlatformConfig FConfig;
    std::string FEntryName;
    bool FConnected = false;
    bool FDialing = false;
    uint64_t FGeneration = 0;
    std::shared_ptr<TThreadEventQueue> FEvents;
    std::shared_ptr<bool> FAlive;
    std::shared_ptr<TShellCommand> FCommand;
    std::thread FWatcher;
};

} // namespace tzn
