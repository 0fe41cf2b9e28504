// The host's own main window (not headless): the plug-in's commands in its menu bar.
#pragma once

#include "host/menu_model.h"

#include <QMainWindow>
#include <QString>

namespace tzn {

class THostMainWindow final : public QMainWindow {
public:
    // menu is read when the window is built: create it after the plug-in's Load. Its nodes
    // must outlive the window.
    THostMainWindow(const TMenuNode& menu, const QString& title);

    // Saves what the window shows as a PNG: the pixels the window system shows where it has a
    // screen, the window drawn by itself offscreen. Returns whether the file was written.
    bool SaveScreenshot(const QString& file);

protected:
    // Closing the main window ends the host, even while the plug-in's mailbox window is open.
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tzn
