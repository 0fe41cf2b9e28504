// The mailbox window's top-level widget: a main window that reports its shows and closes to
// the form (FormShow, FormClose). Closing hides it; it is destroyed only with the form.
#pragma once

#include <QMainWindow>

#include <functional>

namespace tzn {

class TMailFormWindow : public QMainWindow {
public:
    TMailFormWindow(std::function<void()> onShow, std::function<void()> onClose);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> FOnShow;
    std::function<void()> FOnClose;
};

} // namespace tzn
