// Temporary files a killed process leaves behind: a letter half-written into a folder of the
// store ("~<pid>-<n>.tmp"), a journal being replaced ("<name>.<pid>.tmp") and an attachment
// decoded into the temporary folder ("TZNA<hex>.tmp"). Nothing reads them again, so they only
// fill the disk.
#pragma once

#include <filesystem>
#include <string>

namespace tzn {

// Attachment temporaries older than this belong to no running session: a session ends within
// its read time-outs, far sooner.
inline constexpr int kAttachmentTempMaxAgeHours = 24;

// Removes the store's temporaries (in `mailDir` and its InBox, OutBox, Sent and Refused) whose
// process
// no longer runs, and the attachment temporaries in `tempDir` older than
// kAttachmentTempMaxAgeHours. Called with the mail folder locked, so no other session of ours
// writes there. Returns how many files were removed; failures are skipped.
int RemoveLeftoverFiles(const std::string& mailDir, const std::filesystem::path& tempDir);

} // namespace tzn
