// The fuzz targets: each takes one input of arbitrary bytes, runs it through one of the
// parsers of hostile text and lets only the parser's own clear errors pass. Anything else
// (a crash, a sanitizer report, another exception) is a finding. The same entry points serve
// the libFuzzer executables and the regression replay of the ordinary test run. The targets
// are listed by layer, so that a layer's tests replay its inputs without linking the layers
// above: mail_targets.h (the mail layer and the INI reader below it), store_targets.h.
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

} // namespace tzn::fuzz
