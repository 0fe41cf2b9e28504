// Ends the host's event loop on SIGTERM or SIGINT, so that a desktop host killed by a session
// manager, a test or Ctrl-C still unloads the plug-in (and waits for its session) on the way out.
#pragma once

namespace tzn {

// Installs the handlers; call once, on the window thread, after the QApplication exists.
// Throws std::runtime_error when the wake-up pipe cannot be made.
void QuitOnTerminationSignals();

// The signal that ended the loop, 0 when none did.
int TerminationSignal();

} // namespace tzn
