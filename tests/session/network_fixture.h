// Shared ground of the network tests: a fresh root, a phonebook folder with the entry "isp",
// dial and hang-up commands that record their calls, a scripted connection state, and the
// session log lines as CP1251 bytes worked out by hand.
#pragma once

#include "module/settings.h"
#include "platform/connection_state.h"
#include "platform/ras_dialer.h"
#include "session/connect_inet.h"
#include "session/session_network.h"
#include "temp_root.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tzn::test {

// "Соединение": the three state lines use a Latin "c" after it, the dialing line a Cyrillic one.
inline const std::string kSoed = "\xD1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xE5";
inline const std::string kUstanovleno = "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED\xEE";
inline const std::string kEstablishedPrefix = kSoed + " c Internet " + kUstanovleno + "(";
inline const std::string kMade =
    kSoed + " c Internet \xEF\xF0\xEE\xE8\xE7\xE2\xE5\xE4\xE5\xED\xEE.";
inline const std::string kNotMade = kSoed + " c Internet \xED\xE5 " + kUstanovleno + ".";
inline const std::string kDialing = kSoed + " \xF1 Internet...";
inline const std::string kHangingUp =
    "\xD0\xE0\xE7\xF0\xFB\xE2 \xF1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xFF \xF1 Internet...";
inline const std::string kErrorPrefix = "\xCE\xF8\xE8\xE1\xEA\xE0: ";

struct StateAnswer {
    bool Ok;
    uint32_t Flags;
    std::string Name;
};

class NetworkTest : public ::testing::Test {
protected:
    NetworkTest() {
        WriteFile(FRoot.Path("peers/isp"), "# test entry\nuser \"alice\"\n");
        SetCommands("exit 0", "exit 0");
        MailSettings s;
        s.PhonebookEntry = "isp";
        s.ShowDialUp = false;
        SetMailSettings(s);
    }
    ~NetworkTest() override {
        UnloadConnectInetLibrary();
        for (const char* v :
             {"TZN_FAKE_INET_CALLS", "TZN_FAKE_INET_Connect", "TZN_FAKE_INET_Disconnect",
              "TZN_FAKE_INET_GetConnectState", "TZN_FAKE_INET_AutoDisconnectValue"})
            ::unsetenv(v);
        SetMailSettings(MailSettings{});
        SetRasConfig(FSavedRasConfig);
    }

    // The commands record "dial <entry> <user> <password>" / "hangup <entry>" in Calls() and
    // then run `dial` / `hangUp`.
    void SetCommands(const std::string& dial, const std::string& hangUp) {
        const std::string calls = FRoot.Path("calls").string();
        SetRasConfig(
            {FRoot.Path("peers").string(),
             "echo \"dial $1 $TZN_DIAL_USER $TZN_DIAL_PASSWORD\" >> '" + calls + "'; " + dial,
             "echo \"hangup $1\" >> '" + calls + "'; " + hangUp});
    }
    std::string Calls() const { return ReadFile(FRoot.Path("calls")); }

    void EditSettings(const std::function<void(MailSettings&)>& edit) {
        MailSettings s = MailSettingsSnapshot();
        edit(s);
        SetMailSettings(s);
    }

    // The connection state answers in turn; the last one repeats.
    TConnectionStateQuery Scripted(std::vector<StateAnswer> answers) {
        return [answers = std::deque<StateAnswer>(answers.begin(), answers.end()),
                this](uint32_t& flags, std::string& name) mutable {
            ++FStateQueries;
            const StateAnswer a = answers.front();
            if (answers.size() > 1)
                answers.pop_front();
            flags = a.Flags;
            name = a.Name;
            return a.Ok;
        };
    }

    // Options with a scripted state and, if given, a dial bound.
    TSessionNetworkOptions
    Options(std::vector<StateAnswer> answers,
            std::chrono::milliseconds dialWaitLimit = std::chrono::seconds(120)) {
        TSessionNetworkOptions options;
        options.StateQuery = Scripted(std::move(answers));
        options.DialWaitLimit = dialWaitLimit;
        return options;
    }

    TSessionNetwork::LogWriter Writer() {
        return [this](const std::string& line) { FLog.push_back(line); };
    }

    // Places a built stand-in of the connection library at its mapped path and loads it.
    bool InstallLibrary(const char* builtFile) {
        std::filesystem::create_directories(FRoot.Path("C/PLAV"));
        std::filesystem::copy_file(builtFile, FRoot.Path("C/PLAV/TZNConnectInet.so"),
                                   std::filesystem::copy_options::overwrite_existing);
        ::setenv("TZN_FAKE_INET_CALLS", FRoot.Path("inet-calls").c_str(), 1);
        return LoadConnectInetLibrary();
    }
    std::string InetCalls() const { return ReadFile(FRoot.Path("inet-calls")); }

    const TRasPlatformConfig FSavedRasConfig = RasConfig();
    TempRoot FRoot;
    std::vector<std::string> FLog;
    int FStateQueries = 0;
};

} // namespace tzn::test
