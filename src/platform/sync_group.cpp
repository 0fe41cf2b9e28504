#include "platform/sync_group.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

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
    if (FAhead.joinable())
        FAhead.join();
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

bool TSyncGroup::Open(const std::string& path) {
    const std::string native = NativePath(path).string();
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0)
        return false;
    if (FFileSystems.count(st.st_dev) != 0)
        return true;
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        FFileSystems[st.st_dev] = fd;
    return fd >= 0;
}

void TSyncGroup::Note(const std::string& path) {
    // A session notes the same folders and files of one folder letter after letter; a file
    // lies on its folder's file system, so a path under a noted folder needs no stat.
    const size_t slash = path.find_last_of("\\/");
    if (FNoted.count(path) != 0 ||
        (slash != std::string::npos && slash > 0 && FNoted.count(path.substr(0, slash)) != 0))
        return;
    if (!Open(path))
        return;
    std::string folder = path;
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    FNoted.insert(std::move(folder));
}

bool TSyncGroup::Due() const {
    return FLetters >= kMaxGroupLetters ||
           (FLetters > 0 && std::chrono::steady_clock::now() - FSince >= kMaxGroupAge);
}

namespace {

// The reason the first file system could not be flushed, or empty.
std::string SyncAll(const std::vector<int>& descriptors) {
    for (const int fd : descriptors)
        if (::syncfs(fd) != 0)
            return std::string("Cannot flush the written files to disk: ") + std::strerror(errno);
    return {};
}

} // namespace

void TSyncGroup::JoinAhead() {
    if (FAhead.joinable())
        FAhead.join();
    // Sticky: after a failed flush the kernel may have dropped the pages, so a later flush that
    // succeeds proves nothing about them.
    if (!FFailure.empty())
        throw std::runtime_error(FFailure);
}

void TSyncGroup::Barrier(TBarrierWait wait) {
    JoinAhead();
    // The descriptors stay open until the destructor, which joins first; file systems noted
    // from here on wait for the next barrier.
    std::vector<int> descriptors;
    for (const auto& [dev, fd] : FFileSystems)
        descriptors.push_back(fd);
    if (wait == TBarrierWait::Ahead) {
        FAhead = std::thread(
            [this, descriptors = std::move(descriptors)] { FFailure = SyncAll(descriptors); });
    } else {
        FFailure = SyncAll(descriptors);
        if (!FFailure.empty())
            throw std::runtime_error(FFailure);
    }
    ++FBarriers;
    FLetters = 0;
    FSince = std::chrono::steady_clock::now();
}

} // namespace tzn
