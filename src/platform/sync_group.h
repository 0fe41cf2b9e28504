// Durability in groups. A mail session writes many small files (letter copies, the journal,
// the files for the host); flushing each on its own costs a disk round trip per file, and on
// a busy disk that is most of a collection's time. While a TSyncGroup is open on a thread,
// SyncFile and SyncFolder called on that thread only note the file system; Barrier makes
// everything written so far durable with one syncfs per file system. The session places the
// barriers where durability matters (before the server is told to delete, before originals of
// moved letters go), so a power cut costs at most one group.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>

namespace tzn {

class TSyncGroup {
public:
    // Letters in a group, and its age, before Due() asks for a barrier.
    static constexpr int kMaxGroupLetters = 32;
    static constexpr std::chrono::milliseconds kMaxGroupAge{1000};

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
    // Everything written on the noted file systems is on disk. Throws std::runtime_error naming
    // the reason; the group stays open (the caller must not act as if it were durable).
    void Barrier();
    // Barriers made so far (for tests and the benchmark's accounting).
    int Barriers() const { return FBarriers; }

private:
    void Open(const std::string& path);

    std::map<dev_t, int> FFileSystems; // one open descriptor on each
    int FLetters = 0;
    int FBarriers = 0;
    std::chrono::steady_clock::time_point FSince;
    TSyncGroup* FOuter = nullptr;
};

} // namespace tzn
