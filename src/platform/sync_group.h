// Durability in groups. A mail session writes many small files (letter copies, the journal,
// the files for the host); flushing each on its own costs a disk round trip per file, and on
// a busy disk that is most of a collection's time. While a TSyncGroup is open on a thread,
// SyncFile and SyncFolder called on that thread only note the file system; Barrier makes
// everything written so far durable with one syncfs per file system. The session places the
// barriers where durability matters (before the farewell that makes deletions final, before
// originals of moved letters go). Between them it starts barriers ahead, which run beside the
// session's own work; waiting for one before the next starts bounds what a power cut costs to
// two groups.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>

namespace tzn {

// Whether a barrier returns once the files are on disk or at once, running beside the caller.
enum class TBarrierWait { UntilDurable, Ahead };

class TSyncGroup {
public:
    // Letters in a group, and its age, before Due() asks for a barrier. A barrier started ahead
    // may still run while the next group fills, so at most twice these are not yet on disk.
    static constexpr int kMaxGroupLetters = 16;
    static constexpr std::chrono::milliseconds kMaxGroupAge{500};

    // Opens the group on this thread; `anchor` (the mail folder) is always flushed by a barrier.
    // Throws std::runtime_error when `anchor` cannot be opened.
    explicit TSyncGroup(const std::string& anchor);
    ~TSyncGroup();
    TSyncGroup(const TSyncGroup&) = delete;
    TSyncGroup& operator=(const TSyncGroup&) = delete;

    // The group open on this thread, or nullptr.
    static TSyncGroup* Current();
    // What SyncFile/SyncFolder do inside a group: remember the path's file system.
    void Note(const std::string& path);
    // One more letter is in the group.
    void CountLetter() { ++FLetters; }
    // A barrier is due: kMaxGroupLetters letters, or letters older than kMaxGroupAge.
    bool Due() const;
    // Everything written on the noted file systems so far goes to disk: by the return, or (Ahead)
    // by the next barrier's start, which waits for it. Throws std::runtime_error naming the
    // reason, then and at every later barrier: the caller must not act as if it were durable.
    void Barrier(TBarrierWait wait = TBarrierWait::UntilDurable);
    // Barriers made so far (for tests and the benchmark's accounting).
    int Barriers() const { return FBarriers; }

private:
    // Keeps a descriptor on the file system of `path`; false when it cannot.
    bool Open(const std::string& path);
    // Waits for the barrier started ahead, if any; throws a failure of any barrier.
    void JoinAhead();

    std::thread FAhead;
    std::string FFailure; // written by FAhead while it runs

    std::map<dev_t, int> FFileSystems; // one open descriptor on each
    std::set<std::string> FNoted;      // paths noted so far (folders without their last slash)
    int FLetters = 0;
    int FBarriers = 0;
    std::chrono::steady_clock::time_point FSince;
    TSyncGroup* FOuter = nullptr;
};

} // namespace tzn
