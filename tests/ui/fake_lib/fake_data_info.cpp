// Stand-in for the host suite's data-processing library: describes a data file by its name
// and size, so a test can tell which file it was given.
#include <cstdio>
#include <string>

namespace {
std::string Answer;
}

extern "C" __attribute__((visibility("default"))) const char* GetInfoFromFile(const char* path) {
    std::string p = path ? path : "";
    const size_t slash = p.find_last_of('\\');
    Answer = "data of " + (slash == std::string::npos ? p : p.substr(slash + 1));
    return Answer.c_str();
}
