#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace kov {

// The GUI layer's error. Only InitializationError is ever produced; the other kinds exist for
// the debug form.
struct GuiError {
    enum class Kind {
        Unknown,
        InitializationError,
        ControlCreationError,
        MenuCreationError,
        ResourceCreationError,
        LayoutCreationError,
        EventsBinding,
    };
    Kind kind = Kind::Unknown;
    std::string message;
};

GuiError initialization_error(std::string_view message);

// "Unknown", or the kind's name and the message in double quotes within parentheses.
std::string debug_form(const GuiError& error);

// The message a window of the launcher's class posts to itself when it is created.
inline constexpr std::uint32_t GUI_INIT_MESSAGE = 0x0400 + 101; // WM_USER + 101

// Turns on visual styles, the common controls, the window class and COM for the run.
std::expected<void, GuiError> init_gui();

} // namespace kov
