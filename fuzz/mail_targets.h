// The fuzz targets of the mail layer, and of the INI reader it stands on.
#pragma once

#include "fuzz/targets.h"

namespace tzn::fuzz {

// A stored-message file: read, written again, read again.
void FuzzMessageFile(const uint8_t* data, size_t size);
// A letter as a POP3 server's "RETR" answer: dot-stuffed lines up to ".".
void FuzzMessagePop3(const uint8_t* data, size_t size);
// Address lists and single addresses, parsed and turned back into text.
void FuzzAddresses(const uint8_t* data, size_t size);
// Header values: dates, encoded words both ways, parameters.
void FuzzHeaderText(const uint8_t* data, size_t size);
// SMTP and POP3 replies with their enhanced codes, as a server sends them.
void FuzzReplies(const uint8_t* data, size_t size);
// The transfer decoders (base64, quoted-printable, UUE, XXE), whole and line by line.
void FuzzCodecs(const uint8_t* data, size_t size);
// INI file text and the reads of settings from it.
void FuzzIni(const uint8_t* data, size_t size);

inline constexpr TFuzzTarget kMailFuzzTargets[] = {
    {"message_file", FuzzMessageFile},
    {"message_pop3", FuzzMessagePop3},
    {"addresses", FuzzAddresses},
    {"header_text", FuzzHeaderText},
    {"replies", FuzzReplies},
    {"codecs", FuzzCodecs},
    {"ini", FuzzIni},
};

} // namespace tzn::fuzz
