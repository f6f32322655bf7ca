#include "gui.hpp"

namespace kov {
namespace {

std::string_view kind_name(GuiError::Kind kind) {
    switch (kind) {
    case GuiError::Kind::Unknown:
        return "Unknown";
    case GuiError::Kind::InitializationError:
        return "InitializationError";
    case GuiError::Kind::ControlCreationError:
        return "ControlCreationError";
    case GuiError::Kind::MenuCreationError:
        return "MenuCreationError";
    case GuiError::Kind::ResourceCreationError:
        return "ResourceCreationError";
    case GuiError::Kind::LayoutCreationError:
        return "LayoutCreationError";
    case GuiError::Kind::EventsBinding:
        return "EventsBinding";
    }
    return "Unknown";
}

} // namespace

GuiError initialization_error(std::string_view message) {
    return {GuiError::Kind::InitializationError, std::string{message}};
}

std::string debug_form(const GuiError& error) {
    std::string text{kind_name(error.kind)};
    if (error.kind != GuiError::Kind::Unknown) {
        text += "(\"";
        text += error.message;
        text += "\")";
    }
    return text;
}

} // namespace kov
