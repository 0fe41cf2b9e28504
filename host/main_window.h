// The host's own main window (not headless): the plug-in's commands in its menu bar.
#pragma once

#include "host/menu_model.h"

#include <QMainWindow>

namespace tzn {

class THostMainWindow final : public QMainWindow {
public:
    // menu is read when the window is built: create it after the plug-in's Load.
    THostMainWindow(const TMenuNode& menu, const QString& title);
};

} // namespace tzn
