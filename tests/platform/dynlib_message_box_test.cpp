#include "platform/dynlib.h"
#include "platform/message_box.h"

#include "platform/cp1251.h"
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

TEST(MessageBoxTest, HeadlessBoxesAreRecordedAndAnswerAtOnce) {
    ClearRecordedMessageBoxes();
    EXPECT_EQ(MessageBox(ru("Ошибка"), "", MB_OK), IDOK);
    SetHeadlessMessageBoxAnswer(IDYES);
    EXPECT_EQ(MessageBox("Delete?", "TZNMail", MB_YESNO), IDYES);
    SetHeadlessMessageBoxAnswer(IDOK);
    const auto boxes = RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Text, ru("Ошибка"));
    EXPECT_EQ(boxes[1].Caption, "TZNMail");
    EXPECT_EQ(boxes[1].Flags, static_cast<unsigned>(MB_YESNO));
    ClearRecordedMessageBoxes();
    EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST(MessageBoxTest, RecorderKeepsOnlyTheNewestBoxes) {
    ClearRecordedMessageBoxes();
    const size_t total = kMaxRecordedMessageBoxes + 7;
    for (size_t i = 0; i < total; ++i)
        MessageBox("box " + std::to_string(i), "", MB_OK);
    const auto boxes = RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), kMaxRecordedMessageBoxes);
    EXPECT_EQ(boxes.front().Text, "box 7"); // the seven oldest were dropped
    EXPECT_EQ(boxes.back().Text, "box " + std::to_string(total - 1));
    ClearRecordedMessageBoxes();
}

} // namespace
} // namespace tzn
