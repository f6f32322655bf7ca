// The Linux stand-in: a dialog that cannot be shown, whose user never cancels.
#include "platform/progress_dialog.hpp"

#include <utility>

namespace platform {

ProgressDialog::ProgressDialog(ProgressDialog&& other) noexcept
    : dialog_(std::exchange(other.dialog_, nullptr)) {}

ProgressDialog& ProgressDialog::operator=(ProgressDialog&& other) noexcept {
    std::swap(dialog_, other.dialog_);
    return *this;
}

ProgressDialog::~ProgressDialog() = default;

std::expected<ProgressDialog, ComError> ProgressDialog::create() {
    return ProgressDialog{nullptr};
}

std::expected<void, ComError> ProgressDialog::set_title(const char16_t*) {
    return {};
}

std::expected<void, ComError> ProgressDialog::set_line(std::uint32_t, const char16_t*) {
    return {};
}

std::expected<void, ComError> ProgressDialog::start() {
    return {};
}

bool ProgressDialog::has_user_cancelled() {
    return false;
}

std::expected<void, ComError> ProgressDialog::set_progress(std::uint64_t, std::uint64_t) {
    return {};
}

std::expected<void, ComError> ProgressDialog::stop() {
    return {};
}

} // namespace platform
