// File operations on Windows-form or native paths (see paths.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tzn {

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool DeleteFile(const std::string& path);                             // false when it failed
bool MoveFileReplace(const std::string& from, const std::string& to); // replaces `to`
bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists);
// Creates a folder and its missing parents; false when it cannot.
bool ForceDirectories(const std::string& path);
int64_t FileSize(const std::string& path); // -1 when missing
// Names (not paths) of the plain files in `dir` matching `pattern` (`*` and `?`), compared
// case-insensitively as on the original system; sorted by name.
std::vector<std::string> FindFiles(const std::string& dir, const std::string& pattern);
// Writes all of `bytes` to the descriptor, going on after interrupted and short writes; false
// (errno set, unless the file took nothing) when it could not.
bool WriteAllTo(int fd, std::string_view bytes);
// Creates a new file exclusively; false when the name is taken or it cannot be created.
bool CreateFileExclusive(const std::string& path);

// Renames `from` to `to` unless `to` exists; the check and the rename are one step.
enum class TMoveResult { Done, Taken, Failed };
TMoveResult MoveFileNoReplace(const std::string& from, const std::string& to);

// A file is durable only once its content is on disk (SyncFile) and, after a rename or link
// gives it its name, once its folder's entry is too (SyncFolder): without both a power cut
// can leave an empty file under the new name. Both throw std::runtime_error naming the path
// and the reason. Inside a TSyncGroup (sync_group.h) they wait for the group's barrier.
void SyncFile(const std::string& path);
void SyncFolder(const std::string& path);

} // namespace tzn
