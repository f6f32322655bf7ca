#pragma once

// The Windows side of the GUI layer, for the launcher and its Windows tests.
#include "gui.hpp"

#include <string_view>
#include <windows.h>

namespace kov {

inline constexpr std::string_view VISUAL_STYLES_MANIFEST =
    "\n"
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?> \n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "    <description>native-windows-gui comctl32 manifest</description> \n"
    "    <dependency>\n"
    "        <dependentAssembly>\n"
    "            <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
    "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
    "language=\"*\" /> \n"
    "        </dependentAssembly>\n"
    "    </dependency>\n"
    "</assembly>\n";

inline constexpr wchar_t WINDOW_CLASS_NAME[] = L"NativeWindowsGuiWindow";

void enable_visual_styles();
void init_common_controls();
std::expected<void, GuiError> register_window_class();
LRESULT CALLBACK gui_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

} // namespace kov
