// The GUI layer's Windows side, run under Wine.
#include "common_controls_probe.hpp"
#include "gui_win32.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <thread>
#include <vector>

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
    // Line by line: the lengths, and the blanks at the start and end that are easy to lose.
    std::vector<std::string_view> lines;
    std::string_view rest = kov::VISUAL_STYLES_MANIFEST.substr(1);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        ASSERT_NE(end, std::string_view::npos);
        lines.push_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    const std::vector<std::size_t> lengths = {56, 73, 68, 16, 27, 178, 28, 17, 11};
    ASSERT_EQ(lines.size(), lengths.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), lengths[i]) << "line " << i + 1;
    }
    EXPECT_EQ(lines[0].back(), ' ');
    EXPECT_EQ(lines[2].substr(0, 5), "    <");
    EXPECT_EQ(lines[2].back(), ' ');
    EXPECT_EQ(lines[5].substr(0, 13), "            <");
    EXPECT_EQ(lines[5].substr(lines[5].size() - 4), " /> ");
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

TEST(InitGui, ActivatesVersion6OfTheCommonControls) {
    ASSERT_TRUE(kov::init_gui());
    // The active context redirects comctl32.dll to the Common-Controls 6.0 assembly.
    const std::wstring identity = comctl32_assembly_identity();
    EXPECT_TRUE(is_common_controls_6(identity)) << std::filesystem::path(identity).string();
}

TEST(InitGui, UnusableTemporaryFolderCostsOnlyTheVisualStyles) {
    wchar_t saved[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
    SetEnvironmentVariableW(L"TMP", L"Z:\\no\\such\\folder");
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    // The road under test: no temporary file can be made there.
    EXPECT_EQ(GetTempFileNameW(folder, L"nwg", 0, name), 0u) << fs::path(folder).string();
    const auto result = kov::init_gui();
    SetEnvironmentVariableW(L"TMP", saved[0] != 0 ? saved : nullptr);
    EXPECT_TRUE(result);
}

TEST(InitGui, ComInAnotherApartmentModeIsAnInitializationError) {
    // A thread already in the multithreaded apartment: CoInitialize answers RPC_E_CHANGED_MODE.
    std::expected<void, kov::GuiError> result;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        result = kov::init_gui();
    }).join();
    ASSERT_FALSE(result);
    EXPECT_EQ(kov::debug_form(result.error()), "InitializationError(\"CoInitialize failed\")");
}

TEST(GuiWindowProc, PostsInitOnCreateAndHidesOnClose) {
    ASSERT_TRUE(kov::init_gui());
    const HWND window =
        CreateWindowExW(0, kov::WINDOW_CLASS_NAME, L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    MSG message{};
    EXPECT_TRUE(
        PeekMessageW(&message, window, kov::GUI_INIT_MESSAGE, kov::GUI_INIT_MESSAGE, PM_REMOVE));
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
