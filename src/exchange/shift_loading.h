// Filling the shift list from the application server's shift log (provider "SmLogProvider").
#pragma once

#include <string>

namespace tzn {

class TAppServer;
class THostServices;
class TShiftList;
class TWindowServices;

inline constexpr const char* kShiftLogProvider = "SmLogProvider";

// Clears the list's SelectedShifts and replaces its rows with the shift log of the server on
// the computer the host names (parameter 7; empty: this one). A failure is shown in a box
// ("Ошибка при загрузке списка смен: " + error) and never thrown: the rows held before stay
// when the log could not be opened, the rows read so far when a row could not be read.
void LoadShiftList(TShiftList& list, TAppServer& server, THostServices& host,
                   TWindowServices& window);

} // namespace tzn
