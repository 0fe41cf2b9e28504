// The libFuzzer entry of one target, chosen when the executable is built.
#include "fuzz/mail_targets.h"
#include "fuzz/store_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TZN_FUZZ_ENTRY(data, size);
    return 0;
}
