#include "ui/mail_form_window.h"

#include <QCloseEvent>
#include <QShowEvent>

namespace tzn {

TMailFormWindow::TMailFormWindow(std::function<void()> onShow, std::function<void()> onClose)
    : FOnShow(std::move(onShow)), FOnClose(std::move(onClose)) {}

void TMailFormWindow::showEvent(QShowEvent* event) {
    // A show by the window system (restoring from the task bar) is not a new show.
    if (!event->spontaneous() && FOnShow)
        FOnShow();
    QMainWindow::showEvent(event);
}

void TMailFormWindow::closeEvent(QCloseEvent* event) {
    if (FOnClose)
        FOnClose();
    event->accept(); // hidden, not destroyed
}

} // namespace tzn
