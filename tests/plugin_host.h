// The built plug-in loaded as a host loads it (dlopen, the exports looked up by name), and
// the wait for its sessions that a host's message loop makes.
#pragma once

#include "temp_root.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <dlfcn.h>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tzn::test {

class Plugin {
public:
    Plugin() {
        FHandle = ::dlopen(TZN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!FHandle)
            ADD_FAILURE() << ::dlerror();
    }
    ~Plugin() { Close(); }
    void Close() {
        if (FHandle)
            ::dlclose(FHandle);
        FHandle = nullptr;
    }
    template <typename Fn> Fn Get(const char* name) {
        void* sym = FHandle ? ::dlsym(FHandle, name) : nullptr;
        EXPECT_NE(sym, nullptr) << name;
        return reinterpret_cast<Fn>(sym);
    }
    bool Loaded() const { return FHandle != nullptr; }

private:
    void* FHandle = nullptr;
};

// The session log's lines (without their time stamps) once `count` sessions have closed,
// processing the window thread's events meanwhile as a host's message loop does.
inline std::vector<std::string> SessionLines(const std::filesystem::path& log, size_t count) {
    const std::string closing(37, '=');
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        QApplication::processEvents();
        std::vector<std::string> lines;
        size_t closed = 0;
        if (std::filesystem::exists(log)) {
            std::istringstream in(ReadFile(log));
            for (std::string l; std::getline(in, l);) {
                if (!l.empty() && l.back() == '\r')
                    l.pop_back();
                const size_t dash = l.find(" - ");
                lines.push_back(dash == std::string::npos ? l : l.substr(dash + 3));
                closed += lines.back() == closing;
            }
        }
        if (closed >= count || std::chrono::steady_clock::now() > deadline)
            return lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace tzn::test
