// The shell's progress dialog and COM error texts, under Wine with a display.
#include "com_error.hpp"
#include "platform/progress_dialog.hpp"
#include "platform/system_error.hpp"

#include <gtest/gtest.h>
#include <oleauto.h>
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

TEST(ComError, DescriptionOfTheThreadsErrorObjectComesFirst) {
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(L"the object's own words"));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();
    create->Release();

    const auto with_info = platform::win32::com_error("IProgressDialog::SetTitle", E_FAIL);
    EXPECT_EQ(with_info.message, "the object's own words");
    EXPECT_EQ(platform::describe(with_info),
              "IProgressDialog::SetTitle failed: the object's own words (HRESULT 0x80004005)");

    // Taken once: the next error has only the system's text.
    const auto without_info = platform::win32::com_error("CoCreateInstance", E_INVALIDARG);
    EXPECT_EQ(without_info.hresult, 0x80070057u);
    EXPECT_EQ(without_info.message, platform::system_message(0x80070057u));
    EXPECT_EQ(without_info.message.find("own words"), std::string::npos);
}

} // namespace
