#include "gui_win32.hpp"

#include "handle.hpp"

#include <commctrl.h>
#include <objbase.h>

namespace kov {
namespace {

void write_manifest(const wchar_t* path) {
    const platform::win32::Handle file{CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file.valid()) {
        return;
    }
    DWORD written = 0;
    WriteFile(file.get(), VISUAL_STYLES_MANIFEST.data(),
              static_cast<DWORD>(VISUAL_STYLES_MANIFEST.size()), &written, nullptr);
}

} // namespace

void enable_visual_styles() {
    wchar_t folder[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, folder) == 0) {
        return;
    }
    wchar_t manifest[MAX_PATH] = {};
    if (GetTempFileNameW(folder, L"nwg", 0, manifest) == 0) {
        return;
    }
    // The file is written and deleted through its UTF-16 name as Windows gave it, which names
    // exactly that file even where it holds no valid UTF-8 form.
    write_manifest(manifest);

    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_SET_PROCESS_DEFAULT;
    request.lpSource = manifest;
    // The context stays the process default until the process ends: never released.
    const HANDLE context = CreateActCtxW(&request);
    ULONG_PTR cookie = 0;
    ActivateActCtx(context, &cookie);

    DeleteFileW(manifest);
}

void init_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
}

std::expected<void, GuiError> register_window_class() {
    const HMODULE module = GetModuleHandleW(nullptr);
    if (module == nullptr) {
        return std::unexpected(initialization_error("GetModuleHandleW failed"));
    }
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_VREDRAW | CS_HREDRAW;
    window_class.lpfnWndProc = gui_window_proc;
    window_class.hInstance = module;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // COLOR_WINDOW itself, not COLOR_WINDOW + 1.
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW));
    window_class.lpszClassName = WINDOW_CLASS_NAME;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return std::unexpected(initialization_error("System class creation failed"));
    }
    return {};
}

LRESULT CALLBACK gui_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        PostMessageW(window, GUI_INIT_MESSAGE, 0, 0);
        return 0;
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

std::expected<void, GuiError> init_gui() {
    enable_visual_styles();
    init_common_controls();
    if (auto registered = register_window_class(); !registered) {
        return registered;
    }
    // S_OK and S_FALSE (already initialised) are the only successes. Never uninitialised.
    if (static_cast<std::uint32_t>(CoInitialize(nullptr)) >= 2) {
        return std::unexpected(initialization_error("CoInitialize failed"));
    }
    return {};
}

} // namespace kov
