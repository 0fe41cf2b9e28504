// Common ground for store tests: a private TZN_ROOT, the mail folders under "C:\MAIL\", a
// data exchange folder "C:\DATA\", a scripted host, recording window services, and fresh
// module-wide values.
#pragma once

#include "fake_host.h"
#include "fake_window_services.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "store/letter_files.h"
#include "store/local_side.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tzn::test {

inline std::string ReadWin(const std::string& windowsPath) {
    return ReadFile(NativePath(windowsPath));
}
inline void WriteWin(const std::string& windowsPath, const std::string& content) {
    WriteFile(NativePath(windowsPath), content);
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetModuleState();
        FSettings = MailSettings{};
        FSettings.MailDir = "C:\\MAIL\\";
        FSettings.EMail = "work@example.test";
        SetMailSettings(FSettings);
        CreateMailFolders(FSettings.MailDir);
        SetDataDir("C:\\DATA\\");
        ASSERT_TRUE(ForceDirectories(DataDir()));
        SetStationCode("12");
        SetHost(&FHost);
        ResetLetterFileCounter();
    }
    void TearDown() override {
        SetHost(nullptr);
        ResetModuleState();
        SetMailSettings(MailSettings{});
    }
    // This side as the module's values describe it at the call.
    TLocalSide Side() const {
        return {Host(), ModuleSide() == TModuleSide::Office, StationCode(), DataDir()};
    }
    // Applies changes made to `settings`.
    void Apply() { SetMailSettings(FSettings); }

    std::string FolderDir(MailFolder f) const { return FolderPath(FSettings.MailDir, f); }
    std::vector<std::string> Letters(MailFolder f) const {
        return FindFiles(FolderDir(f), "*.eml");
    }
    // A file in C:\SRC\ with the given content, its Windows-form path returned.
    std::string SourceFile(const std::string& name, const std::string& content) {
        const std::string path = "C:\\SRC\\" + name;
        WriteWin(path, content);
        return path;
    }

    TempRoot FRoot;
    FakeHost FHost;
    FakeWindowServices FWindow;
    MailSettings FSettings;
};

} // namespace tzn::test
