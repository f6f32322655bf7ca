// The launcher's message boxes and progress dialog run while version 6 of the common controls is
// the process's choice: checked from a thread of the process of its own while each is on screen,
// as the dialog's own thread would see it. Under Wine with a display.
#include "common_controls_probe.hpp"
#include "gui.hpp"
#include "platform/message_box.hpp"
#include "platform/progress_dialog.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <windows.h>

namespace {

constexpr wchar_t CAPTION[] = L"Kovane Console";

// A top-level window, waiting up to five seconds for it to appear.
HWND wait_for_window(const wchar_t* class_name) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (HWND window = FindWindowW(class_name, CAPTION)) {
            return window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return nullptr;
}

std::string narrow(const std::wstring& text) {
    return {text.begin(), text.end()};
}

class VisualStyles : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(kov::init_gui()); }
};

TEST_F(VisualStyles, ActiveWhileAMessageBoxIsShown) {
    bool shown = false;
    std::wstring identity;
    std::thread watcher([&] {
        HWND box = wait_for_window(L"#32770");
        if (box == nullptr) {
            return;
        }
        shown = true;
        identity = comctl32_assembly_identity();
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    });
    const int answer = platform::show_message_box(
        u"Visual styles?", u"Kovane Console", platform::BOX_YES_NO | platform::BOX_ICON_WARNING);
    watcher.join();
    ASSERT_TRUE(shown);
    EXPECT_EQ(answer, platform::BOX_ANSWER_YES);
    EXPECT_TRUE(is_common_controls_6(identity)) << narrow(identity);
}

TEST_F(VisualStyles, ActiveWhileTheProgressDialogIsShown) {
    auto dialog = platform::ProgressDialog::create();
    ASSERT_TRUE(dialog) << platform::describe(dialog.error());
    ASSERT_TRUE(dialog->set_title(u"Kovane Console"));
    ASSERT_TRUE(dialog->start());
    HWND window = nullptr;
    std::wstring identity;
    std::thread([&] {
        window = wait_for_window(nullptr);
        identity = comctl32_assembly_identity();
    }).join();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(FindWindowExW(window, nullptr, L"msctls_progress32", nullptr), nullptr);
    EXPECT_TRUE(is_common_controls_6(identity)) << narrow(identity);
    EXPECT_TRUE(dialog->stop());
}

} // namespace
