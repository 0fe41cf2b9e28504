// Waiting on the window thread without blocking its windows.
#pragma once

#include <chrono>
#include <functional>

namespace tzn {

// Processes the calling thread's window messages (its Qt events) until done() holds or the
// time-out has passed; true when done() held. For a window thread that waits for a worker
// which may still send messages to its windows meanwhile. done() is checked at least every
// 10 ms. Without a Qt application there are no messages to process: it only waits.
bool ProcessMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

} // namespace tzn
