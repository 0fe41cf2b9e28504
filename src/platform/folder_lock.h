// An exclusive lock on a folder shared by several processes: an advisory lock on a lock file
// inside it, released when the holder closes it or its process ends (a killed holder never
// leaves the folder locked).
#pragma once

#include <functional>
#include <string>

namespace tzn {

class TFolderLock {
public:
    TFolderLock() = default;
    ~TFolderLock() { Release(); }
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Locks `folder` (Windows form or native) through the file `lockName` in it, waiting at
    // most `waitMs` for another holder; `cancelled`, when set, is asked while waiting and ends
    // the wait early. False when the folder stayed locked; throws std::runtime_error (naming
    // the file and the reason) when the lock file cannot be opened.
    bool Acquire(const std::string& folder, const std::string& lockName, int waitMs,
                 const std::function<bool()>& cancelled = {});
    void Release();
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

} // namespace tzn
