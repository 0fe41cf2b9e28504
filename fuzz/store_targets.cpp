#include <string>

#include "fuzz/store_targets.h"
#include "store/header_recoding.h"

namespace tzn::fuzz {

void FuzzHeaderRecoding(const uint8_t* data, size_t size) {
    (void)RecodeHeaderText(std::string(reinterpret_cast<const char*>(data), size));
}

} // namespace tzn::fuzz
