#include "host/headless.h"

#include "host/session_log.h"
#include "host/shift_dialog_answer.h"
#include "host/stderr_tap.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"

#include <exception>

namespace tzn {
namespace {

using Clock = std::chrono::steady_clock;

// The preparation's boxes as the headless plug-in writes them to standard error (UTF-8).
constexpr const char* kPreparationBox = "Связь с офисом.: ";
// The texts of the box that ends a preparation: made its letters, or did not.
constexpr const char* kPreparedText = "Данные подготовлены (";
constexpr const char* kFailedTexts[] = {"Сбой при подготовке данных.", "Error - ",
                                        "Подготовка данных уже выполняется."};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

class THeadlessRun {
public:
    THeadlessRun(const TPluginExports& plugin, TConfigHost& host, const THeadlessOptions& options,
                 std::ostream& out, std::ostream& err)
        : FPlugin(plugin), FHost(host), FOptions(options), FOut(out), FErr(err),
          FLog(options.SessionLog) {}

    bool Run(const THeadlessCommand& c) {
        const std::string& command = c.Name;
        if (command == "report")
            return Report(c.Args);
        if (command == "request")
            return Requests(command, ru("Создать письмо-запрос"));
        if (command == "requests")
            return Requests(command, ru("Создать письмо-запрос для всех АЗС"));
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
    // Clicks the report command and answers the shift dialog; the preparation has ended with
    // the box that tells its outcome (the headless plug-in writes every box to standard error
    // as "caption: text", which is all a host sees of it). Its box texts are printed.
    bool Report(const std::vector<std::string>& shifts) {
        const std::string command = "report";
        const std::string caption = ru("Создать письмо-отчет");
        TMenuNode* item = CommunicationItem() ? CommunicationItem()->FindChild(caption) : nullptr;
        if (!item)
            return Fail(command, "the menu has no command \"" + Utf8FromCp1251(caption) + "\"");
        const Clock::time_point start = Clock::now();
        bool seen = false, ended = false, prepared = false;
        TShiftDialogAnswer answer(shifts);
        {
            TStderrTap boxes;
            item->Click();
            const auto done = [&] {
                std::string line;
                while (!ended && boxes.Next(line)) {
                    if (!StartsWith(line, kPreparationBox))
                        continue;
                    const std::string text = line.substr(std::string(kPreparationBox).size());
                    FOut << text << std::endl;
                    seen = true;
                    prepared = StartsWith(text, kPreparedText);
                    ended = prepared;
                    for (const char* failed : kFailedTexts)
                        ended = ended || StartsWith(text, failed);
                }
                return ended || (!seen && !answer.Answered() &&
                                 Clock::now() - start >= FOptions.StartTimeout);
            };
            ProcessMessagesUntil(done, FOptions.Timeout);
        }
        if (!answer.Error().empty())
            return Fail(command, answer.Error() + " (the dialog was cancelled)");
        if (!ended && !seen && !answer.Answered())
            return Fail(command, "no preparation started: no shift dialog and no box within " +
                                     std::to_string(FOptions.StartTimeout.count()) + " s");
        if (!ended)
            return Fail(command, "the preparation did not end within " +
                                     std::to_string(FOptions.Timeout.count()) + " s");
        if (!prepared)
            return Fail(command, "the preparation failed");
        return true;
    }

    // Clicks a request command (window thread, done when the click returns) and prints the
    // stations the plug-in asked this host for a request.
    bool Requests(const std::string& command, const std::string& caption) {
        TMenuNode* item = CommunicationItem() ? CommunicationItem()->FindChild(caption) : nullptr;
        if (!item)
            return Fail(command, "the menu has no command \"" + Utf8FromCp1251(caption) + "\"");
        const size_t before = FHost.RequestsMade().size();
        item->Click();
        const std::vector<std::string> made = FHost.RequestsMade();
        for (size_t i = before; i < made.size(); ++i)
            FOut << "request for station " << Utf8FromCp1251(made[i]) << std::endl;
        if (made.size() == before)
            return Fail(command, "no request was made: the host names no station for it");
        return true;
    }

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
        const size_t importFailures = FHost.ImportFailures();
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
        // The plug-in carries on past a failed import; the host said why when it failed.
        if (const size_t n = FHost.ImportFailures() - importFailures; n > 0)
            return Fail(command, std::to_string(n) + " import(s) of received data failed");
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
    return word == "get" || word == "send" || word == "auto" || word == "report" ||
           word == "request" || word == "requests" || word == "menu" || word == "version";
}

bool TakesArguments(const std::string& command) {
    return command == "report";
}

int RunHeadlessCommands(const TPluginExports& plugin, TConfigHost& host,
                        const std::vector<THeadlessCommand>& commands,
                        const THeadlessOptions& options, std::ostream& out, std::ostream& err) {
    THeadlessRun run(plugin, host, options, out, err);
    for (const THeadlessCommand& command : commands) {
        try {
            if (!run.Run(command))
                return 1;
        } catch (const std::exception& e) {
            err << "tznhost: " << command.Name << ": " << e.what() << std::endl;
            return 1;
        }
    }
    return 0;
}

} // namespace tzn
