#include "host/headless.h"

#include "host/session_log.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"

#include <exception>

namespace tzn {
namespace {

using Clock = std::chrono::steady_clock;

class THeadlessRun {
public:
    THeadlessRun(const TPluginExports& plugin, TConfigHost& host, const THeadlessOptions& options,
                 std::ostream& out, std::ostream& err)
        : FPlugin(plugin), FHost(host), FOptions(options), FOut(out), FErr(err),
          FLog(options.SessionLog) {}

    bool Run(const std::string& command) {
        if (command == "menu") {
            FOut << FormatMenuTree(FHost.MainMenu()) << std::flush;
            return true;
        }
        if (command == "version") {
            std::string version;
            FPlugin.GetVersion(version);
            FOut << Utf8FromCp1251(version) << std::endl;
            return true;
        }
        if (command == "auto") {
            if (!FPlugin.AutoSendMail())
                return Fail(command, "no session started: the plug-in queued no request");
            return FollowSession(command);
        }
        const std::string caption = command == "get" ? ru("Получить почту") : ru("Отправить почту");
        TMenuNode* item = CommunicationItem() ? CommunicationItem()->FindChild(caption) : nullptr;
        if (!item)
            return Fail(command, "the menu has no command \"" + Utf8FromCp1251(caption) + "\"");
        item->Click();
        return FollowSession(command);
    }

private:
    TMenuNode* CommunicationItem() const {
        return FHost.MainMenu().FindChild(FHost.Config().Mode == 0 ? ru("Связь с о&фисом")
                                                                   : ru("Связь"));
    }

    bool Fail(const std::string& command, const std::string& why) {
        FErr << "tznhost: " << command << ": " << why << std::endl;
        return false;
    }

    // Prints the session's lines as they are logged, processing the window thread's messages
    // meanwhile: the session hands every line to a window on this thread first.
    bool FollowSession(const std::string& command) {
        const Clock::time_point start = Clock::now();
        bool started = false, ended = false, failed = false;
        const auto done = [&] {
            std::string line;
            while (!ended && FLog.Next(line)) {
                const std::string text = LogLineText(line);
                FOut << Utf8FromCp1251(text) << std::endl;
                started = true;
                failed = failed || text.rfind(ru("Ошибка"), 0) == 0;
                ended = IsSessionEndLine(text);
            }
            return ended || (!started && Clock::now() - start >= FOptions.StartTimeout);
        };
        ProcessMessagesUntil(done, FOptions.Timeout);
        if (!started)
            return Fail(command, "no session started: nothing was logged within " +
                                     std::to_string(FOptions.StartTimeout.count()) + " s");
        if (!ended)
            return Fail(command, "the session did not end within " +
                                     std::to_string(FOptions.Timeout.count()) + " s");
        if (failed)
            return Fail(command, "the session reported an error");
        return true;
    }

    const TPluginExports& FPlugin;
    TConfigHost& FHost;
    const THeadlessOptions& FOptions;
    std::ostream& FOut;
    std::ostream& FErr;
    TSessionLogFollower FLog;
};

} // namespace

bool IsHeadlessCommand(const std::string& word) {
    return word == "get" || word == "send" || word == "auto" || word == "menu" || word == "version";
}

int RunHeadlessCommands(const TPluginExports& plugin, TConfigHost& host,
                        const std::vector<std::string>& commands, const THeadlessOptions& options,
                        std::ostream& out, std::ostream& err) {
    THeadlessRun run(plugin, host, options, out, err);
    for (const std::string& command : commands) {
        try {
            if (!run.Run(command))
                return 1;
        } catch (const std::exception& e) {
            err << "tznhost: " << command << ": " << e.what() << std::endl;
            return 1;
        }
    }
    return 0;
}

} // namespace tzn
