#include "host/desktop.h"

#include "host/main_window.h"
#include "host/quit_signal.h"
#include "platform/cp1251.h"

#include <QApplication>
#include <QTimer>

#include <string>

namespace tzn {
namespace {

// Time for the window system to map and paint the window before it is read back.
constexpr std::chrono::milliseconds kPaintDelay{500};

} // namespace

int RunDesktop(TConfigHost& host, const TDesktopOptions& options, std::ostream& err) {
    QuitOnTerminationSignals();
    // The plug-in's mailbox window has no owner: closing it must not end the host.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::string side = host.Config().Mode == 0 ? "АЗС " : "Офис ";
    THostMainWindow window(
        host.MainMenu(),
        QString::fromStdString("tznhost: " + side + Utf8FromCp1251(host.Config().StationCode)));
    window.show();

    int status = 0;
    QTimer quitTimer, shotTimer;
    quitTimer.setSingleShot(true);
    shotTimer.setSingleShot(true);
    QObject::connect(&quitTimer, &QTimer::timeout, qApp, &QApplication::quit);
    auto quitLater = [&] {
        if (options.QuitAfter)
            quitTimer.start(*options.QuitAfter);
    };
    QObject::connect(&shotTimer, &QTimer::timeout, &window, [&] {
        if (!window.SaveScreenshot(QString::fromStdString(options.Screenshot.string()))) {
            err << "tznhost: cannot save the screenshot " << options.Screenshot.string()
                << std::endl;
            status = 1;
        }
        quitLater();
    });
    if (options.Screenshot.empty())
        quitLater();
    else
        shotTimer.start(kPaintDelay);
    QApplication::exec();
    return status;
}

} // namespace tzn
