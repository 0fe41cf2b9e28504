#include "store/letter_files.h"

#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <stdio.h>
#include <unistd.h>

namespace tzn {

std::atomic<uint32_t> LetterFileCounter{0};

namespace {

// Makes every temporary name of this process unique. It starts at a random point, so that a
// process of another pid namespace sharing the folder, or a dead one whose pid came back, does
// not meet the same names.
std::atomic<uint64_t> TempSequence{std::random_device{}()};

// Names tried past the counter before giving up: far more than a folder gets in one second.
constexpr uint32_t kMaxNameAttempts = 100000;

} // namespace

std::string FolderName(MailFolder folder) {
    switch (folder) {
    case MailFolder::InBox:
        return "InBox\\";
    case MailFolder::OutBox:
        return "OutBox\\";
    case MailFolder::Sent:
        return "Sent\\";
    default:
        return {};
    }
}

char FolderLetter(MailFolder folder) {
    switch (folder) {
    case MailFolder::InBox:
        return 'i';
    case MailFolder::OutBox:
        return 'o';
    case MailFolder::Sent:
        return 's';
    default:
        return 0;
    }
}

std::string FolderCaption(MailFolder folder) {
    switch (folder) {
    case MailFolder::InBox:
        return ru("Входящие");
    case MailFolder::OutBox:
        return ru("Исходящие");
    case MailFolder::Sent:
        return ru("Отправленные");
    default:
        return {};
    }
}

std::optional<MailFolder> FolderFromLetter(char letter) {
    switch (letter) {
    case 'i':
        return MailFolder::InBox;
    case 'o':
        return MailFolder::OutBox;
    case 's':
        return MailFolder::Sent;
    default:
        return std::nullopt;
    }
}

std::string FolderPath(const std::string& mailDir, MailFolder folder) {
    return IncludeTrailingBackslash(mailDir) + FolderName(folder);
}

void ResetLetterFileCounter() {
    LetterFileCounter.store(0);
}

void AdvanceLetterFileCounter(uint32_t used) {
    const uint32_t next = used + 1;
    uint32_t cur = LetterFileCounter.load();
    // Wrap-around after 2^32 saves is allowed, as for any unsigned counter: only "behind" by
    // less than half the range counts as behind.
    while (static_cast<int32_t>(next - cur) > 0 &&
           !LetterFileCounter.compare_exchange_weak(cur, next)) {
    }
}

std::string LetterFileStem(TDateTime when, uint32_t counter) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    DecodeDateTime(when, y, mo, d, h, mi, s, ms);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d%02d-%02d%02d%02d-%u", mo, d, h, mi, s, counter);
    return buf;
}

std::string LetterFileName(TDateTime when, uint32_t counter) {
    return LetterFileStem(when, counter) + ".eml";
}

std::optional<std::string>
PublishLetterFile(const std::string& folderPath,
                  const std::function<void(const std::string& tempPath)>& write) {
    if (!DirectoryExists(folderPath))
        return std::nullopt;
    // The temporary name does not match "*.eml", so scans never see a half-written letter.
    // The writer creates it: a file emptied when reopened is flushed by the file system as it is
    // closed, one disk write per letter that the session's barriers exist to avoid.
    const std::string temp = folderPath + "~" + std::to_string(::getpid()) + "-" +
                             std::to_string(TempSequence.fetch_add(1)) + ".tmp";
    struct TTempGuard {
        const std::string& Path;
        bool Moved = false;
        ~TTempGuard() {
            if (!Moved)
                DeleteFile(Path);
        }
    } guard{temp};
    try {
        write(temp);
        // On disk before it gets its name: a power cut must not leave an empty letter.
        SyncFile(temp);
    } catch (...) {
        return std::nullopt;
    }
    const TDateTime now = Now();
    uint32_t counter = LetterFileCounter.load();
    for (uint32_t attempt = 0; attempt < kMaxNameAttempts; ++attempt, ++counter) {
        const std::string name = LetterFileName(now, counter);
        switch (MoveFileNoReplace(temp, folderPath + name)) {
        case TMoveResult::Done:
            guard.Moved = true;
            AdvanceLetterFileCounter(counter);
            // The letter is complete under its name; should its folder entry not reach the
            // disk, a power cut loses the name, never half a letter, so the save stands.
            try {
                SyncFolder(folderPath);
            } catch (const std::runtime_error&) {
            }
            return name;
        case TMoveResult::Taken:
            continue;
        case TMoveResult::Failed:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace tzn
