#include "commands.h"

#include <cstdio>
#include <exception>
#include <malloc.h>

namespace tzn::tool {

static std::vector<TCommand>& Table() {
    static std::vector<TCommand> table;
    return table;
}

void RegisterCommand(TCommand cmd) {
    Table().push_back(std::move(cmd));
}
const std::vector<TCommand>& Commands() {
    return Table();
}

static void PrintUsage(FILE* out) {
    std::fprintf(out, "usage:\n");
    for (const TCommand& c : Commands())
        std::fprintf(out, "  tznmail %s\n", c.Usage.c_str());
}

// --help: every command with an example, and where the tool reads and writes.
static void PrintHelp() {
    std::printf("tznmail: the TZNMail administrator's tool. It runs the module's own code by "
                "hand:\nsettings, stored letters, connection checks, delivery and "
                "collection.\n\nCommands:\n");
    for (const TCommand& c : Commands())
        std::printf("  tznmail %s\n      e.g. %s\n", c.Usage.c_str(), c.Example.c_str());
    std::printf(
        "\nFiles: the settings are $TZN_ROOT/C/WINDOWS/cnf.INI (section EMail), the letters lie "
        "in\n$TZN_ROOT/C/PLAV/OFFICE/MAIL/{InBox,OutBox,Sent}; TZN_ROOT defaults to "
        "~/.local/share/tznmail.\nExit status: 0 success, 1 the operation failed, 2 a bad "
        "command line or value.\n");
}

} // namespace tzn::tool

int main(int argc, char** argv) {
    using namespace tzn::tool;
    // A run that sends or fetches many letters allocates and frees the same large buffers for
    // each; handing them back to the kernel every time costs more than the mail work itself.
    // A short-lived tool keeps them instead.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        PrintUsage(stderr);
        return Usage;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        PrintHelp();
        return Ok;
    }
    for (const TCommand& c : Commands()) {
        if (c.Group != words[0])
            continue;
        size_t skip = 1;
        if (!c.Name.empty()) {
            if (words.size() < 2 || words[1] != c.Name)
                continue;
            skip = 2;
        }
        try {
            return c.Run(
                std::vector<std::string>(words.begin() + static_cast<long>(skip), words.end()));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tznmail: %s\n", e.what());
            return Failed;
        }
    }
    std::fprintf(stderr, "tznmail: unknown command\n");
    PrintUsage(stderr);
    return Usage;
}
