// This side of the exchange as the letter work sees it. The session and the window commands
// hand it in from what they were given, so that the store reads no module-wide values of its
// own and a test states a side in one line.
#pragma once

#include <string>

namespace tzn {

class THostServices;

struct TLocalSide {
    // The host that imports the received data files; nullptr: none, nothing is handed over.
    THostServices* Host = nullptr;
    // The office end: with more than one station listed, a file is imported as the sender's.
    bool Office = false;
    // Names this side's letters (sender name, Message-ID without a working address) and is
    // the tag a letter for this side carries in its subject.
    std::string StationCode;
    // The data exchange folder shared with the host, Windows form, ending in "\".
    std::string DataDir;
};

} // namespace tzn
