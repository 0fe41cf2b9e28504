// The fuzz targets: each takes one input of arbitrary bytes, runs it through one of the
// parsers of hostile text and lets only the parser's own clear errors pass. Anything else
// (a crash, a sanitizer report, another exception) is a finding. The same entry points serve
// the libFuzzer executables and the regression replay of the ordinary test run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tzn::fuzz {

using TFuzzEntry = void (*)(const uint8_t* data, size_t size);

struct TFuzzTarget {
    std::string_view Name; // also the folder name of its corpus and regression inputs
    TFuzzEntry Run;
};

// A stored-message file: read, written again, read again.
void FuzzMessageFile(const uint8_t* data, size_t size);
// A letter as a POP3 server's "RETR" answer: dot-stuffed lines up to ".".
void FuzzMessagePop3(const uint8_t* data, size_t size);
// Address lists and single addresses, parsed and turned back into text.
void FuzzAddresses(const uint8_t* data, size_t size);
// Header values: dates, encoded words both ways, parameters, the header repair.
void FuzzHeaderText(const uint8_t* data, size_t size);
// SMTP and POP3 replies with their enhanced codes, as a server sends them.
void FuzzReplies(const uint8_t* data, size_t size);
// The transfer decoders (base64, quoted-printable, UUE, XXE), whole and line by line.
void FuzzCodecs(const uint8_t* data, size_t size);
// INI file text and the reads of settings from it.
void FuzzIni(const uint8_t* data, size_t size);

inline constexpr TFuzzTarget kFuzzTargets[] = {
    {"message_file", FuzzMessageFile},
    {"message_pop3", FuzzMessagePop3},
    {"addresses", FuzzAddresses},
    {"header_text", FuzzHeaderText},
    {"replies", FuzzReplies},
    {"codecs", FuzzCodecs},
    {"ini", FuzzIni},
};

} // namespace tzn::fuzz
