// Small helpers the benchmark programs share.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tzn::bench {

// The environment variable, or `fallback` when it is unset or empty.
inline std::string Env(const char* name, const char* fallback = "") {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// Peak resident memory of this process image in KiB (VmHWM: counted from exec on, unlike the
// rusage maximum, which also holds the parent's size at fork), so a baseline run of the same
// program is comparable; -1 when it cannot be read.
inline long PeakKiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
}

} // namespace tzn::bench
