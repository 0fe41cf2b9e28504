// The station's data file as the sample host makes it: a gzip-compressed tar archive of the
// host's export folder together with the request it answers, and its unpacking at the office.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tzn {

class TArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The name every data archive ends with.
inline constexpr const char* kDataArchiveSuffix = ".tar.gz";

// Writes a new archive `target` (created exclusively; false when the name is taken) holding
// every regular file below `folder` (empty: none) under its relative path, and `request` at
// the top under `requestName`. Throws TArchiveError naming the file that failed (the
// half-written archive is removed), also when a file of the folder is named like the request.
bool PackDataArchive(const std::filesystem::path& target, const std::filesystem::path& folder,
                     const std::filesystem::path& request, const std::string& requestName);

// Whether a received file's name marks it as a data archive.
bool IsDataArchiveName(const std::string& fileName);

// What one archive may unpack. A received archive comes from outside: a few megabytes of
// gzip can expand to gigabytes of zeros and fill the import folder's disk.
inline constexpr std::uintmax_t kMaxUnpackedBytes = std::uintmax_t{1} << 30; // 1 GiB in all
inline constexpr std::uintmax_t kMaxArchiveEntries = 10000;                  // files and folders
// Unpacked bytes per compressed byte read so far, checked once kRatioFreeBytes are unpacked:
// small archives of text compress far better than 200:1 and are harmless at that size.
inline constexpr std::uintmax_t kMaxCompressionRatio = 200;
inline constexpr std::uintmax_t kRatioFreeBytes = std::uintmax_t{8} << 20; // 8 MiB

struct TUnpackLimits {
    std::uintmax_t MaxBytes = kMaxUnpackedBytes;
    std::uintmax_t MaxEntries = kMaxArchiveEntries;
    std::uintmax_t MaxRatio = kMaxCompressionRatio;
    std::uintmax_t RatioFreeBytes = kRatioFreeBytes;
};

// Unpacks `archive` into the folder `target`, which must not exist yet; false when it does.
// Only relative paths without ".." and only files and folders are accepted, within `limits`
// (a file's holes count as its bytes): anything else, or a damaged archive, throws
// TArchiveError and leaves no `target` behind.
bool UnpackDataArchive(const std::filesystem::path& archive, const std::filesystem::path& target,
                       const TUnpackLimits& limits = {});

} // namespace tzn
