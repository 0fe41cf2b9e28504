// Processing of a received letter: when its subject carries this side's tag ("TZN-" + the
// side's station code as a whole word, any case, anywhere), every attached file is written into
// the side's data folder and handed to its host for import; a file the host answers with goes
// back to the sender as a reply letter.
#pragma once

#include <cstddef>
#include <string>

namespace tzn {

class TMxMessage;
class TWindowServices;
struct TLocalSide;

// "TZN.txt" in the data folder: the host's reply file, deleted before every hand-over (unless it is
// the very file being handed over).
inline constexpr const char* kReplyFileName = "TZN.txt";

// Processes `letter` for `side` (the caller keeps and frees it; its attachment contents are marked
// temporary and go with it). A failure while writing an attachment ends the processing of
// this letter and is reported in the activity log and in a box shown by `window`:
// "Не обработано письмо от " + sender + CR + the failure's text. Reply letters are composed
// with `window` too. False when such a failure came before any file reached the host: the
// letter can then be processed again later without a file being imported twice.
// `outcome`, when given, learns how many data files the letter carried and how many of them
// the host took without failing.
struct TLetterOutcome {
    int DataFiles = 0;
    int Imported = 0;
};
bool ProcessReceivedLetter(TMxMessage& letter, const TLocalSide& side, TWindowServices& window,
                           TLetterOutcome* outcome = nullptr);

// One hand-over of a data file to `side`'s host; failures (the host's included) are
// swallowed. False when the host did not take the file (no host, or its import failed).
bool HandOverDataFile(const std::string& senderCode, const std::string& dataFile,
                      const TLocalSide& side, TWindowServices& window);

// The name an attachment gets in the data folder: its file-name component, or, when that is
// empty, "." or "..", "attachment-<partIndex>.dat", so no attachment names a path outside it. A
// name too long for the file system is shortened, keeping its extension and staying unique.
std::string SafeDataFileName(const std::string& partFileName, std::size_t partIndex);

} // namespace tzn
