// The module's commands in the host's main menu. The items belong to the host: the module
// keeps no reference to them and never removes them.
#pragma once

#include "tznmail/host.h"

#include <cstdint>
#include <string>

namespace tzn {

// The click handlers the menu binds; an empty one leaves the item without a handler.
struct MenuCommands {
    THostMenuItem::ClickHandler ShowMailbox, GetMail, SendMail, CreateReportLetter,
        CreateRequestLetter, CreateRequestLettersForAll, Settings;
};

// Appends a child to parent (NewMenuItem(parent, -1)) with the caption, an empty hint, help
// context 0, no shortcut and the handler.
THostMenuItem* AddMenuCommand(THostServices& host, const std::string& caption,
                              THostMenuItem* parent, THostMenuItem::ClickHandler handler);
// The first child whose caption equals caption, ignoring "&" markers and letter case.
THostMenuItem* FindMenuChild(THostMenuItem* parent, const std::string& caption);
// Builds the commands of the station side (mode 0) or the office side (mode 1); other modes
// add nothing. Errors of the host propagate; items added before stay.
void AddHostMenuCommands(THostServices& host, uint8_t mode, const MenuCommands& commands);

} // namespace tzn
