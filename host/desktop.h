// The host's desktop mode: its main window with the plug-in's commands, until the user closes
// it, SIGTERM or SIGINT arrives, or a set time has passed.
#pragma once

#include "host/config_host.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>

namespace tzn {

struct TDesktopOptions {
    // Close by itself this long after the window was first shown (and its screenshot saved).
    std::optional<std::chrono::milliseconds> QuitAfter;
    // Save a PNG of the main window once it is shown; empty: none.
    std::filesystem::path Screenshot;
};

// Runs on the window thread between the plug-in's Load and UnLoad, inside the QApplication.
// Returns 0, or 1 when the screenshot could not be saved (said on err).
int RunDesktop(TConfigHost& host, const TDesktopOptions& options, std::ostream& err);

} // namespace tzn
