// tznhost's desktop mode: its main window carries the plug-in's commands for the configured
// side and opens the mailbox window from them; the process closes cleanly after a set time
// or on SIGTERM; and under a real X server its screenshot shows a drawn window.
#include "host/config_host.h"
#include "host/host_config.h"
#include "host/main_window.h"
#include "host/plugin_library.h"
#include "qt_environment.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace tzn {
namespace {

using test::RunCommand;
using test::ShellQuote;
using test::TempRoot;

const auto* const kQtHost = ::testing::AddGlobalTestEnvironment(new test::QtEnvironment);

void WriteHostConfig(const TempRoot& root, const std::string& side) {
    test::WriteFile(root.Path("host.ini"),
                    "[Host]\nSide=" + side +
                        "\nStationCode=12\nDataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n");
}

// The captions of a menu's actions, separators as "-".
std::vector<std::string> Captions(const QMenu* menu) {
    std::vector<std::string> out;
    for (const QAction* a : menu->actions())
        out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
}

const QMenu* TopMenu(const QMainWindow& window, const std::string& caption) {
    for (QAction* a : window.menuBar()->actions())
        if (a->text().toStdString() == caption)
            return a->menu();
    return nullptr;
}

bool OtherWindowVisible(const QWidget& mainWindow) {
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w != &mainWindow && w->isVisible() && !qobject_cast<const QMenu*>(w))
            return true;
    return false;
}

TEST(HostMainWindow, ShowsTheSidesCommandsAndOpensTheMailboxFromThem) {
    TempRoot root;
    std::filesystem::current_path(root.Dir());
    TPluginLibrary plugin(TZN_PLUGIN_PATH);
    const TPluginExports& exports = plugin.Exports();
    for (const auto& [side, comm, commands] :
         {std::tuple{"station", "Связь с о&фисом",
                     std::vector<std::string>{"-", "Электронная почта", "Получить почту",
                                              "Отправить почту", "Создать письмо-отчет", "-",
                                              "Настройки"}},
          std::tuple{"office", "Связь",
                     std::vector<std::string>{"-", "Электронная почта", "Получить почту",
                                              "Отправить почту", "Создать письмо-запрос",
                                              "Создать письмо-запрос для всех АЗС", "-",
                                              "Настройки"}}}) {
        SCOPED_TRACE(side);
        WriteHostConfig(root, side);
        TConfigHost host(ReadHostConfig(root.Path("host.ini")));
        ASSERT_EQ(exports.Load(nullptr, host.Config().Mode, &host), 0);
        {
            THostMainWindow window(host.MainMenu(), "tznhost");
            window.show();
            const QMenu* menu = TopMenu(window, comm);
            ASSERT_NE(menu, nullptr);
            EXPECT_EQ(Captions(menu), commands);
            ASSERT_NE(TopMenu(window, "&Файл"), nullptr);
            EXPECT_FALSE(OtherWindowVisible(window));
            menu->actions().at(1)->trigger(); // "Электронная почта"
            QApplication::processEvents();
            EXPECT_TRUE(OtherWindowVisible(window)) << "the mailbox window did not open";
        }
        EXPECT_EQ(exports.UnLoad(), 0);
        // After UnLoad the plug-in's windows are gone with it.
        QApplication::processEvents();
        for (const QWidget* w : QApplication::topLevelWidgets())
            EXPECT_FALSE(w->isVisible()) << w->metaObject()->className();
    }
}

// Distinct colours in a picture and the share of its most frequent one.
struct TColours {
    size_t Distinct = 0;
    double TopShare = 1;
};

TColours CountColours(const QImage& image) {
    std::map<QRgb, size_t> seen;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++seen[image.pixel(x, y)];
    size_t top = 0;
    for (const auto& [c, n] : seen)
        top = std::max(top, n);
    const double all = static_cast<double>(image.width()) * image.height();
    return {seen.size(), all > 0 ? static_cast<double>(top) / all : 1};
}

void ExpectDrawnWindow(const std::filesystem::path& png) {
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(png.string()))) << png;
    EXPECT_GE(image.width(), 400);
    EXPECT_GE(image.height(), 200);
    const TColours c = CountColours(image);
    // A blank or black capture has one colour; the menu and the caption bring many more.
    EXPECT_GE(c.Distinct, 8u);
    EXPECT_LT(c.TopShare, 0.998);
}

class TznHostDesktop : public ::testing::Test {
protected:
    // tznhost run through the shell in the test's root; output and errors together.
    test::ToolRun Shell(const std::string& script) {
        return RunCommand("cd " + ShellQuote(FRoot.Dir().string()) +
                          " && export TZN_ROOT=" + ShellQuote(FRoot.Dir().string()) +
                          " HOST=" + ShellQuote(TZN_HOST_PATH) + " && { " + script + "; } 2>&1");
    }
    TempRoot FRoot;
};

TEST_F(TznHostDesktop, ClosesByItselfOrOnSigtermAfterShowingItsWindow) {
    WriteHostConfig(FRoot, "office");
    const test::ToolRun timed = Shell("QT_QPA_PLATFORM=offscreen \"$HOST\" --config host.ini "
                                      "--quit-after 200 --screenshot timed.png");
    EXPECT_EQ(timed.Status, 0) << timed.Out;
    ExpectDrawnWindow(FRoot.Path("timed.png"));

    // The screenshot is saved from the running event loop, so once it exists the signal
    // handler is in place.
    const test::ToolRun killed =
        Shell("QT_QPA_PLATFORM=offscreen \"$HOST\" --config host.ini --screenshot up.png & pid=$!; "
              "for i in $(seq 300); do [ -s up.png ] && break; sleep 0.1; done; "
              "kill -TERM $pid; wait $pid; echo \"status=$?\"");
    EXPECT_NE(killed.Out.find("status=0"), std::string::npos) << killed.Out;

    const test::ToolRun bad =
        Shell("\"$HOST\" --config host.ini --headless --quit-after 10 version");
    EXPECT_EQ(bad.Status, 2) << bad.Out;
    const test::ToolRun unsaved = Shell("QT_QPA_PLATFORM=offscreen \"$HOST\" --config host.ini "
                                        "--quit-after 10 --screenshot nowhere/x.png");
    EXPECT_EQ(unsaved.Status, 1) << unsaved.Out;
    EXPECT_NE(unsaved.Out.find("cannot save the screenshot"), std::string::npos) << unsaved.Out;
}

TEST_F(TznHostDesktop, UnderARealXServerTheScreenshotShowsTheWindow) {
    if (RunCommand("command -v xvfb-run >/dev/null 2>&1").Status != 0)
        GTEST_SKIP() << "xvfb-run is not installed (Debian packages xvfb and xauth; "
                        "scripts/install-deps installs them): no X server to show the window on";
    WriteHostConfig(FRoot, "station");
    const test::ToolRun r =
        Shell("env -u QT_QPA_PLATFORM xvfb-run -a -s '-screen 0 1024x768x24' \"$HOST\" "
              "--config host.ini --quit-after 200 --screenshot x11.png");
    ASSERT_EQ(r.Status, 0) << r.Out;
    ExpectDrawnWindow(FRoot.Path("x11.png"));
}

} // namespace
} // namespace tzn
