// The station's report data: the request file for the chosen shifts, the host's data file
// for it (PrepareExportData), and one report letter per recipient in OutBox. Interactively
// the shifts are chosen in the shift dialog and the outcome is shown in a box; automatically
// (the mail session, the current shift) only a failure is shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tzn {

class TAppServer;
class THostServices;
class TShiftList;
class TWindowServices;

// Every box of a preparation has this caption.
inline constexpr const char* kPreparationCaption = "Связь с офисом."; // UTF-8; ru() it

// What a preparation works with.
struct TPreparationContext {
    THostServices* Host = nullptr;     // unset: no host, the preparation fails
    TWindowServices* Window = nullptr; // boxes and the letter list; unset: headless boxes
    // The data exchange folder the request file is written into (Windows form, ending in
    // "\"); empty: the preparation fails.
    std::string DataDir;
    // Told the station code the host reports, which the report letters are sent in the name
    // of: the code may have changed since Load, and the module keeps the current one.
    std::function<void(const std::string& code)> StationCodeReported;
    // An interactive run's shift choice: the dialog's rows, the server they are read from,
    // and the dialog shown modally on the window thread while the caller waits (its modal
    // result: 1 for OK).
    TShiftList* ShiftList = nullptr;
    TAppServer* AppServer = nullptr;
    std::function<int()> ShowShiftDialog;
    // Stores the report letters for a data file, returning how many were stored; unset: one
    // to the working address and one to each additional address (composition's rule).
    std::function<int(const std::string& dataFile)> ComposeLetters;
};

enum class TBuildOutcome { Done = 0, Failed = 1, Cancelled = 2 };

struct TDataFile {
    TBuildOutcome Outcome = TBuildOutcome::Failed;
    std::string Path; // the host's data file; "" when it named none
};

// The request for `shifts` (nullptr: the ones ticked in the shift dialog, filled from the
// application server first) and the host's data file for it. A failure is logged ("Ошибки
// при подготовке письмиа: " + error) and leaves the outcome where it stood.
TDataFile BuildDataFile(const std::vector<std::string>* shifts, const TPreparationContext& context);

// The whole preparation; `shifts` nullptr is the interactive run. Returns whether letters
// were made; every failure has been shown in a box by then. Never throws.
bool PrepareStationData(const std::vector<std::string>* shifts, const TPreparationContext& context);

} // namespace tzn
