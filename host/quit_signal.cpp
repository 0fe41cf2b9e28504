#include "host/quit_signal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tzn {
namespace {

// A signal handler may only write to a pipe; the window thread reads it and quits.
int WakePipe[2] = {-1, -1};
std::atomic<int> CaughtSignal{0};

void OnSignal(int signal) {
    CaughtSignal.store(signal);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(WakePipe[1], &byte, 1);
}

} // namespace

void QuitOnTerminationSignals() {
    if (::pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot create the signal pipe: ") +
                                 std::strerror(errno));
    auto* notifier =
        new QSocketNotifier(WakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(WakePipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

int TerminationSignal() {
    return CaughtSignal.load();
}

} // namespace tzn
