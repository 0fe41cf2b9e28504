// The host's window thread runs a Qt application, as a real host's does: tests that create
// windows or load the plug-in register this environment once (offscreen, no display needed).
#pragma once

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace tzn::test {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Every test file of a program registers it; the first one makes the application.
        if (QApplication::instance())
            return;
        // A test program started again inside an X server (TZN_ON_DISPLAY) shows its windows
        // there; every other run draws offscreen.
        if (!std::getenv("TZN_ON_DISPLAY"))
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        FApp = std::make_unique<QApplication>(FArgc, FArgv);
    }
    void TearDown() override { FApp.reset(); }

private:
    int FArgc = 1;
    char FName[8] = "tzntest";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QApplication> FApp;
};

} // namespace tzn::test
