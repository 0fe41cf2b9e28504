#include "platform/message_box.h"

#include "platform/cp1251.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <future>
#include <memory>
#include <mutex>

namespace tzn {
namespace {

// A widget application on a real display (any X server, a virtual one included). The offscreen
// and minimal platforms of headless runs, and a process without widgets, have no user to ask.
QApplication* DisplayApplication() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal")
        return nullptr;
    return app;
}

QMessageBox::Icon IconOf(unsigned flags) {
    switch (flags & 0xF0) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The box itself, modal, on the window thread.
int ExecBox(const std::string& text, const std::string& caption, unsigned flags) {
    QMessageBox box(IconOf(flags), QString::fromStdString(Utf8FromCp1251(caption)),
                    QString::fromStdString(Utf8FromCp1251(text)));
    box.setObjectName("MessageBox");
    // A box without an owner must not close the host when it is the last window closed.
    box.setAttribute(Qt::WA_QuitOnClose, false);
    if (flags & MB_TOPMOST)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    switch (flags & 0x0F) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

// The answer of a box shown on the window thread while this thread waits. An application
// that ends before it showed the box drops the queued call, which breaks the promise: the
// caller is released with Cancel (or OK for a box without one) instead of waiting forever.
int ShowOnWindowThread(QApplication* app, const std::string& text, const std::string& caption,
                       unsigned flags) {
    static std::mutex handOff;
    auto answer = std::make_shared<std::promise<int>>();
    std::future<int> result = answer->get_future();
    std::unique_lock<std::mutex> queued(handOff);
    QMetaObject::invokeMethod(
        app,
        [answer, text, caption, flags] {
            // The call was queued under this lock; taking it makes the hand-over visible to
            // thread checkers, which cannot see Qt's own queue locking.
            { std::lock_guard<std::mutex> lock(handOff); }
            try {
                answer->set_value(ExecBox(text, caption, flags));
            } catch (...) {
                answer->set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    queued.unlock();
    answer.reset();
    try {
        return result.get();
    } catch (...) {
        return (flags & 0x0F) == MB_OK ? IDOK : IDCANCEL;
    }
}

} // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (QApplication* app = DisplayApplication()) {
        if (QThread::currentThread() == app->thread())
            return ExecBox(text, caption, flags);
        return ShowOnWindowThread(app, text, caption, flags);
    }
    const std::string u8caption = Utf8FromCp1251(caption);
    std::fprintf(stderr, "%s%s%s\n", u8caption.c_str(), u8caption.empty() ? "" : ": ",
                 Utf8FromCp1251(text).c_str());
    return IDOK;
}

} // namespace tzn
