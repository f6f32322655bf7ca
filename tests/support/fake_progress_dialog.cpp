// Defines every operation of platform::ProgressDialog, so the linker never takes the platform's.
#include "fake_progress_dialog.hpp"

#include "platform/progress_dialog.hpp"
#include "platform/text.hpp"

#include <utility>

namespace kov_test {
namespace {

FakeDialog the_fake;

} // namespace

FakeDialog& fake_dialog() {
    return the_fake;
}

void reset_fake_dialog() {
    the_fake = FakeDialog{};
}

} // namespace kov_test

namespace platform {
namespace {

std::expected<void, ComError> record(std::string call) {
    kov_test::FakeDialog& fake = kov_test::fake_dialog();
    fake.calls.push_back(call);
    if (fake.on_call) {
        fake.on_call(call);
    }
    if (!fake.failing.empty() && call.starts_with(fake.failing)) {
        return std::unexpected(ComError{"fake", 0x80004005, "fake failure"});
    }
    return {};
}

std::string text(const char16_t* utf16) {
    return utf16_to_utf8(utf16);
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
        (void)record("Release");
    }
}

std::expected<ProgressDialog, ComError> ProgressDialog::create() {
    if (auto made = record("CoCreateInstance"); !made) {
        return std::unexpected(made.error());
    }
    return ProgressDialog{&kov_test::fake_dialog()};
}

std::expected<void, ComError> ProgressDialog::set_title(const char16_t* title) {
    return record("SetTitle " + text(title));
}

std::expected<void, ComError> ProgressDialog::set_line(std::uint32_t line, const char16_t* words) {
    return record("SetLine " + std::to_string(line) + " " + text(words));
}

std::expected<void, ComError> ProgressDialog::start() {
    return record("StartProgressDialog");
}

bool ProgressDialog::has_user_cancelled() {
    (void)record("HasUserCancelled");
    const kov_test::FakeDialog& fake = kov_test::fake_dialog();
    return fake.cancelled(fake);
}

std::expected<void, ComError> ProgressDialog::set_progress(std::uint64_t completed,
                                                           std::uint64_t total) {
    return record("SetProgress64 " + std::to_string(completed) + "/" + std::to_string(total));
}

std::expected<void, ComError> ProgressDialog::stop() {
    return record("StopProgressDialog");
}

} // namespace platform
