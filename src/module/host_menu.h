// The module's commands in the host's main menu. The items belong to the host: the module never
// removes them, and keeps the ones it gave a handler only so that UnLoad can clear it.
#pragma once

#include "tznmail/host.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tzn {

// The click handlers the menu binds; an empty one leaves the item without a handler.
struct TMenuCommands {
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
// add nothing. Every item given a handler is appended to `handled` as soon as it has one, so
// it is there even when the host fails later. Errors of the host propagate; items added
// before stay.
void AddHostMenuCommands(THostServices& host, uint8_t mode, const TMenuCommands& commands,
                         std::vector<THostMenuItem*>& handled);

} // namespace tzn
