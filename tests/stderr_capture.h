// Standard error of this process while the object lives. Without a display the platform's box
// is a line there: a test that must see that no box went around the window services reads it
// back.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tzn::test {

class StderrCapture {
public:
    StderrCapture() { ::testing::internal::CaptureStderr(); }
    // A failed assertion may leave the test early: the capture still ends with it.
    ~StderrCapture() { Text(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // What was written since the capture began; the first call ends the capture.
    const std::string& Text() {
        if (!FEnded) {
            FText = ::testing::internal::GetCapturedStderr();
            FEnded = true;
        }
        return FText;
    }

private:
    bool FEnded = false;
    std::string FText;
};

} // namespace tzn::test
