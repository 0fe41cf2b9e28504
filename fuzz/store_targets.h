// The fuzz targets of the store layer.
#pragma once

#include "fuzz/targets.h"

namespace tzn::fuzz {

// Header text as the store repairs it before showing or filing a letter.
void FuzzHeaderRecoding(const uint8_t* data, size_t size);

inline constexpr TFuzzTarget kStoreFuzzTargets[] = {
    {"header_recoding", FuzzHeaderRecoding},
};

} // namespace tzn::fuzz
