// The mail store's seam to the mailbox window: after letters were composed or moved, the
// window (when it is showing) rebuilds its letter list. The window registers a handler that
// does so on its own thread; the store only calls the registry, from any thread.
#pragma once

#include <functional>

namespace tzn {

using MailboxRefreshHandler = std::function<void()>;

// Registers a handler and returns its id for RemoveMailboxRefreshHandler.
int AddMailboxRefreshHandler(MailboxRefreshHandler handler);
void RemoveMailboxRefreshHandler(int id);

// Calls every registered handler; a handler that throws is skipped (the store's operations
// never fail because of a refresh).
void RefreshMailboxList();

} // namespace tzn
