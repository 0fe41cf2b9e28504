#include "platform/sync_group.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tzn {
namespace {

thread_local TSyncGroup* CurrentGroup = nullptr;

} // namespace

TSyncGroup::TSyncGroup(const std::string& anchor) : FSince(std::chrono::steady_clock::now()) {
    Open(anchor);
    if (FFileSystems.empty())
        throw std::runtime_error("Cannot open folder " + anchor + ": " + std::strerror(errno));
    FOuter = CurrentGroup;
    CurrentGroup = this;
}

TSyncGroup::~TSyncGroup() {
    CurrentGroup = FOuter;
    for (const auto& [dev, fd] : FFileSystems)
        ::close(fd);
}

TSyncGroup* TSyncGroup::Current() {
    return CurrentGroup;
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
