#include "platform/dynlib.h"
#include "platform/message_box.h"

#include "platform/cp1251.h"
#include "stderr_capture.h"
#include "temp_root.h"

#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace tzn {
namespace {

// A real shared object to stand for a host suite library: the C library itself.
std::string LibcPath() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&std::strlen), &info) || !info.dli_fname)
        return {};
    return info.dli_fname;
}

TEST(DynLib, DllNamesLoadTheMappedSharedObjectIgnoringCase) {
    test::TempRoot root;
    const std::string libc = LibcPath();
    ASSERT_FALSE(libc.empty());
    std::filesystem::create_directories(root.Path("C/PLAV"));
    std::filesystem::create_symlink(libc, root.Path("C/PLAV/tznconnectinet.so"));
    TLibraryHandle lib = LoadLibrary("C:\\PLAV\\TZNConnectInet.dll");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(GetProcAddress(lib, "strlen"), nullptr);
    EXPECT_EQ(GetProcAddress(lib, "NoSuchEntryPoint"), nullptr);
    FreeLibrary(lib);
    EXPECT_EQ(LoadLibrary("C:\\PLAV\\Kesmora9.dll"), nullptr);
    EXPECT_EQ(LoadLibrary(""), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "strlen"), nullptr);
}

// Without a display the box is the line a headless host shows its user, and nobody is asked.
TEST(MessageBoxTest, HeadlessBoxesAreOneLineOnStandardErrorAndAnswerAtOnce) {
    test::StderrCapture err;
    EXPECT_EQ(MessageBox(ru("Ошибка"), "", MB_OK), IDOK);
    EXPECT_EQ(MessageBox("Delete?", "TZNMail", MB_YESNO), IDOK);
    EXPECT_EQ(err.Text(), "Ошибка\nTZNMail: Delete?\n");
}

} // namespace
} // namespace tzn
