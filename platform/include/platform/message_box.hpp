#pragma once

#include <cstdint>

namespace platform {

// Message box styles and answers, with the values of MessageBoxW's.
inline constexpr std::uint32_t BOX_OK = 0x0;            // MB_OK
inline constexpr std::uint32_t BOX_YES_NO = 0x4;        // MB_YESNO
inline constexpr std::uint32_t BOX_ICON_WARNING = 0x30; // MB_ICONWARNING
inline constexpr int BOX_ANSWER_YES = 6;                // IDYES

// Shows a modal message box without an owner window (MessageBoxW) and waits until it is closed.
// `text` and `caption` are NUL-terminated UTF-16. Returns the button that closed it, 0 when no
// box could be shown. The Linux stand-in answers 0 as a box that cannot be shown.
int show_message_box(const char16_t* text, const char16_t* caption, std::uint32_t style);

} // namespace platform
