// The GUI layer's Windows side, run under Wine.
#include "gui_win32.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

std::size_t count_manifest_files() {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::wstring name = entry.path().filename().wstring();
        count += name.rfind(L"nwg", 0) == 0 ? 1 : 0;
    }
    return count;
}

TEST(VisualStylesManifest, HasTheFixedBytes) {
    EXPECT_EQ(kov::VISUAL_STYLES_MANIFEST.size(), 484u);
    EXPECT_EQ(kov::VISUAL_STYLES_MANIFEST.front(), '\n');
    EXPECT_EQ(kov::VISUAL_STYLES_MANIFEST.find('\r'), std::string_view::npos);
    EXPECT_NE(kov::VISUAL_STYLES_MANIFEST.find(
                  "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string_view::npos);
}

TEST(InitGui, SetsUpClassAndComAndLeavesNoManifestBehind) {
    const std::size_t before = count_manifest_files();
    ASSERT_TRUE(kov::init_gui());
    EXPECT_EQ(count_manifest_files(), before);

    WNDCLASSEXW registered{};
    registered.cbSize = sizeof registered;
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), kov::WINDOW_CLASS_NAME, &registered));
    EXPECT_EQ(registered.lpfnWndProc, &kov::gui_window_proc);
    EXPECT_EQ(registered.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW));

    // A second run finds the class registered and COM initialised (S_FALSE): both succeed.
    EXPECT_TRUE(kov::register_window_class());
    EXPECT_TRUE(kov::init_gui());
}

TEST(GuiWindowProc, PostsInitOnCreateAndHidesOnClose) {
    ASSERT_TRUE(kov::init_gui());
    const HWND window = CreateWindowExW(0, kov::WINDOW_CLASS_NAME, L"t", WS_OVERLAPPEDWINDOW, 0, 0,
                                        100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    MSG message{};
    EXPECT_TRUE(PeekMessageW(&message, window, kov::GUI_INIT_MESSAGE, kov::GUI_INIT_MESSAGE, PM_REMOVE));
    ShowWindow(window, SW_SHOW);
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window)); // hidden, not destroyed
    // Everything else is the default procedure's: the window's text is answered as usual.
    wchar_t text[8] = {};
    EXPECT_EQ(SendMessageW(window, WM_GETTEXT, 8, reinterpret_cast<LPARAM>(text)), 1);
    EXPECT_STREQ(text, L"t");
    DestroyWindow(window);
}

} // namespace
