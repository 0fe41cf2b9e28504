#include "platform/sync_group.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tzn {
namespace {

// The group open on each thread. A map under a lock rather than a thread_local: this code is
// loaded as a plug-in, where thread-local storage is allocated per thread by the loader behind
// locks the thread checker cannot see.
std::mutex& GroupsLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::thread::id, TSyncGroup*>& Groups() {
    static std::map<std::thread::id, TSyncGroup*> groups;
    return groups;
}

} // namespace

TSyncGroup::TSyncGroup(const std::string& anchor) : FSince(std::chrono::steady_clock::now()) {
    Open(anchor);
    if (FFileSystems.empty())
        throw std::runtime_error("Cannot open folder " + anchor + ": " + std::strerror(errno));
    std::lock_guard<std::mutex> lock(GroupsLock());
    TSyncGroup*& current = Groups()[std::this_thread::get_id()];
    FOuter = current;
    current = this;
}

TSyncGroup::~TSyncGroup() {
    {
        std::lock_guard<std::mutex> lock(GroupsLock());
        if (FOuter)
            Groups()[std::this_thread::get_id()] = FOuter;
        else
            Groups().erase(std::this_thread::get_id());
    }
    for (const auto& [dev, fd] : FFileSystems)
        ::close(fd);
}

TSyncGroup* TSyncGroup::Current() {
    std::lock_guard<std::mutex> lock(GroupsLock());
    const auto it = Groups().find(std::this_thread::get_id());
    return it == Groups().end() ? nullptr : it->second;
}

void TSyncGroup::Open(const std::string& path) {
    const std::string native = NativePath(path).string();
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0 || FFileSystems.count(st.st_dev) != 0)
        return;
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        FFileSystems[st.st_dev] = fd;
}

void TSyncGroup::Note(const std::string& path) {
    Open(path);
}

bool TSyncGroup::Due() const {
    return FLetters >= kMaxGroupLetters ||
           (FLetters > 0 && std::chrono::steady_clock::now() - FSince >= kMaxGroupAge);
}

void TSyncGroup::Barrier() {
    for (const auto& [dev, fd] : FFileSystems)
        if (::syncfs(fd) != 0)
            throw std::runtime_error(std::string("Cannot flush the written files to disk: ") +
                                     std::strerror(errno));
    ++FBarriers;
    FLetters = 0;
    FSince = std::chrono::steady_clock::now();
}

} // namespace tzn
