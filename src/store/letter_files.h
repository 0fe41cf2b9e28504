// The mail store's folders and letter file names: "mmdd-hhnnss-" + LetterFileCounter + ".eml"
// inside MailDir + "InBox\", "OutBox\" or "Sent\". A letter file is never overwritten: a new
// one is published under the first free name from the counter on, created exclusively.
#pragma once

#include "platform/datetime.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tzn {

// The order is fixed: the mailbox tree and the scans rely on it. All only for scans.
enum class MailFolder : int { All = 0, InBox = 1, OutBox = 2, Sent = 3 };

std::string FolderName(MailFolder folder);    // "InBox\", "OutBox\", "Sent\"; empty for All
char FolderLetter(MailFolder folder);         // 'i', 'o', 's'; 0 for All
std::string FolderCaption(MailFolder folder); // the mailbox tree's caption, CP1251
std::optional<MailFolder> FolderFromLetter(char letter);
// Beside the three folders: letters the mail reader refused for their content, kept as the
// server held them so that they can leave the shared mailbox and still be looked at.
inline constexpr const char* kRefusedFolder = "Refused";
// MailDir (with or without its trailing backslash) + the folder's name.
std::string FolderPath(const std::string& mailDir, MailFolder folder);

// The module-wide counter: 0 at load, set back to 0 when a mail session starts, moved on by
// every successful save. Safe to read from any thread; change it only through the two below.
extern std::atomic<uint32_t> LetterFileCounter;
void ResetLetterFileCounter();
// After a save used `used`: the counter becomes at least used + 1 (it never goes back when
// two threads save at once).
void AdvanceLetterFileCounter(uint32_t used);

// "mmdd-hhnnss-" + counter, local time, no year. The session names its TMPinMail copies so.
std::string LetterFileStem(TDateTime when, uint32_t counter);
std::string LetterFileName(TDateTime when, uint32_t counter); // stem + ".eml"

// Fills a temporary file in `folderPath` with `write` (which receives the temporary path and
// throws on failure), then gives it the first free letter name from the current counter on,
// atomically and without ever replacing an existing file, and moves the counter past it.
// Returns the file name, or nothing when the folder is missing or anything failed (no file
// is left behind then).
std::optional<std::string>
PublishLetterFile(const std::string& folderPath,
                  const std::function<void(const std::string& tempPath)>& write);

} // namespace tzn
