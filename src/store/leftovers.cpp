#include "store/leftovers.h"

#include "platform/paths.h"
#include "store/letter_files.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <signal.h>
#include <sys/types.h>

namespace tzn {
namespace {

// The pid in "~<pid>-<n>.tmp" or "<name>.<pid>.tmp"; 0 when the name is neither.
pid_t PidOf(const std::string& name) {
    const std::string suffix = ".tmp";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), 4, suffix) != 0)
        return 0;
    const std::string stem = name.substr(0, name.size() - suffix.size());
    std::string digits;
    if (stem.rfind('~', 0) == 0)
        digits = stem.substr(1, stem.find('-') == std::string::npos ? 0 : stem.find('-') - 1);
    else if (const size_t dot = stem.rfind('.'); dot != std::string::npos)
        digits = stem.substr(dot + 1);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(digits));
}

bool ProcessGone(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

int RemoveIf(const std::filesystem::path& dir,
             const std::function<bool(const std::filesystem::directory_entry&)>& stale) {
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::error_code fileEc;
        if (entry.is_regular_file(fileEc) && stale(entry) &&
            std::filesystem::remove(entry.path(), fileEc))
            ++removed;
    }
    return removed;
}

} // namespace

int RemoveLeftoverFiles(const std::string& mailDir, const std::filesystem::path& tempDir) {
    const auto orphan = [](const std::filesystem::directory_entry& e) {
        return ProcessGone(PidOf(e.path().filename().string()));
    };
    int removed = RemoveIf(NativePath(mailDir), orphan);
    for (MailFolder folder : {MailFolder::InBox, MailFolder::OutBox, MailFolder::Sent})
        removed += RemoveIf(NativePath(FolderPath(mailDir, folder)), orphan);
    removed += RemoveIf(NativePath(mailDir) / kRefusedFolder, orphan);
    const auto oldest = std::filesystem::file_time_type::clock::now() -
                        std::chrono::hours(kAttachmentTempMaxAgeHours);
    removed += RemoveIf(tempDir, [&](const std::filesystem::directory_entry& e) {
        const std::string name = e.path().filename().string();
        std::error_code ec;
        return name.size() == 16 && name.rfind("TZNA", 0) == 0 &&
               name.compare(12, 4, ".tmp") == 0 && e.last_write_time(ec) < oldest && !ec;
    });
    return removed;
}

} // namespace tzn
