#include "store/mailbox_refresh.h"

#include <map>
#include <mutex>
#include <vector>

namespace tzn {

namespace {

std::mutex g_lock;
std::map<int, MailboxRefreshHandler> g_handlers;
int g_nextId = 1;

} // namespace

int AddMailboxRefreshHandler(MailboxRefreshHandler handler) {
    std::lock_guard<std::mutex> lock(g_lock);
    const int id = g_nextId++;
    g_handlers.emplace(id, std::move(handler));
    return id;
}

void RemoveMailboxRefreshHandler(int id) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_handlers.erase(id);
}

void RefreshMailboxList() {
    // Handlers run without the lock held: a handler may wait for the window thread, which
    // may itself be registering or removing a handler.
    std::vector<MailboxRefreshHandler> handlers;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        for (const auto& [id, h] : g_handlers)
            handlers.push_back(h);
    }
    for (const auto& h : handlers) {
        try {
            if (h)
                h();
        } catch (...) {
        }
    }
}

} // namespace tzn
