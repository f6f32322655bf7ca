#include "platform/progress_dialog.hpp"

#include "com_error.hpp"

#include <utility>
#include <windows.h>
// shlobj.h declares IProgressDialog and its flags.
#include <shlobj.h>

namespace platform {
namespace {

// {F8383852-FCD3-11D1-A6B9-006097DF5BD4}
constexpr CLSID progress_dialog_class = {
    0xF8383852, 0xFCD3, 0x11D1, {0xA6, 0xB9, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};
// {EBBC7C04-315E-11D2-B62F-006097DF5BD4}
constexpr IID progress_dialog_interface = {
    0xEBBC7C04, 0x315E, 0x11D2, {0xB6, 0x2F, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};

IProgressDialog* as_dialog(void* dialog) {
    return static_cast<IProgressDialog*>(dialog);
}

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

std::expected<void, ComError> checked(std::string_view operation, HRESULT result) {
    if (FAILED(result)) {
        return std::unexpected(win32::com_error(operation, result));
    }
    return {};
}

} // namespace

ProgressDialog::ProgressDialog(ProgressDialog&& other) noexcept
    : dialog_(std::exchange(other.dialog_, nullptr)) {}

ProgressDialog& ProgressDialog::operator=(ProgressDialog&& other) noexcept {
    std::swap(dialog_, other.dialog_);
    return *this;
}

ProgressDialog::~ProgressDialog() {
    if (dialog_ != nullptr) {
        as_dialog(dialog_)->Release();
    }
}

std::expected<ProgressDialog, ComError> ProgressDialog::create() {
    void* object = nullptr;
    const HRESULT result = CoCreateInstance(progress_dialog_class, nullptr, CLSCTX_INPROC_SERVER,
                                            progress_dialog_interface, &object);
    if (FAILED(result)) {
        return std::unexpected(win32::com_error("CoCreateInstance", result));
    }
    if (object == nullptr) {
        return std::unexpected(win32::com_error("CoCreateInstance", E_POINTER));
    }
    return ProgressDialog{object};
}

std::expected<void, ComError> ProgressDialog::set_title(const char16_t* title) {
    return checked("IProgressDialog::SetTitle", as_dialog(dialog_)->SetTitle(wide(title)));
}

std::expected<void, ComError> ProgressDialog::set_line(std::uint32_t line, const char16_t* text) {
    return checked("IProgressDialog::SetLine",
                   as_dialog(dialog_)->SetLine(line, wide(text), FALSE, nullptr));
}

std::expected<void, ComError> ProgressDialog::start() {
    return checked(
        "IProgressDialog::StartProgressDialog",
        as_dialog(dialog_)->StartProgressDialog(nullptr, nullptr, PROGDLG_NOMINIMIZE, nullptr));
}

bool ProgressDialog::has_user_cancelled() {
    return as_dialog(dialog_)->HasUserCancelled() != FALSE;
}

std::expected<void, ComError> ProgressDialog::set_progress(std::uint64_t completed,
                                                           std::uint64_t total) {
    return checked("IProgressDialog::SetProgress64",
                   as_dialog(dialog_)->SetProgress64(completed, total));
}

std::expected<void, ComError> ProgressDialog::stop() {
    return checked("IProgressDialog::StopProgressDialog", as_dialog(dialog_)->StopProgressDialog());
}

} // namespace platform
