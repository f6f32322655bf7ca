#include "gui.hpp"

namespace kov {

// The Linux host has no GUI layer to prepare.
std::expected<void, GuiError> init_gui() {
    return {};
}

} // namespace kov
