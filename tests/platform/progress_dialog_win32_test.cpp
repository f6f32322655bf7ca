// The shell's progress dialog, under Wine with a display.
#include "platform/progress_dialog.hpp"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

namespace {

class ComThread : public testing::Test {
protected:
    void SetUp() override { ASSERT_LT(static_cast<std::uint32_t>(CoInitialize(nullptr)), 2u); }
    void TearDown() override { CoUninitialize(); }
};

// The dialog's top-level window, found by its title.
HWND dialog_window() {
    return FindWindowW(nullptr, L"Kovane Console");
}

TEST_F(ComThread, DialogRunsThroughTheDownloadCalls) {
    auto dialog = platform::ProgressDialog::create();
    ASSERT_TRUE(dialog) << platform::describe(dialog.error());
    EXPECT_TRUE(dialog->set_title(u"Kovane Console"));
    EXPECT_TRUE(dialog->set_line(1, u"Downloading..."));
    ASSERT_TRUE(dialog->start());
    EXPECT_NE(dialog_window(), nullptr);
    EXPECT_FALSE(dialog->has_user_cancelled());
    EXPECT_TRUE(dialog->set_progress(0, 3));
    EXPECT_TRUE(dialog->set_progress(3, 3));
    EXPECT_TRUE(dialog->stop());
    EXPECT_EQ(dialog_window(), nullptr);
}

} // namespace
