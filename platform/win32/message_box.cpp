#include "platform/message_box.hpp"

#include <windows.h>

namespace platform {

int show_message_box(const char16_t* text, const char16_t* caption, std::uint32_t style) {
    static_assert(BOX_OK == MB_OK && BOX_YES_NO == MB_YESNO && BOX_ICON_WARNING == MB_ICONWARNING &&
                  BOX_ANSWER_YES == IDYES);
    return MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text),
                       reinterpret_cast<const wchar_t*>(caption), style);
}

} // namespace platform
