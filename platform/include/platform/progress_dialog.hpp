#pragma once

#include "platform/com_error.hpp"

#include <cstdint>
#include <expected>

namespace platform {

// One reference to the shell's progress dialog (IProgressDialog), released when its owner ends.
// Releasing does not stop a started dialog: stop() does. Every call is made on the thread that
// created the dialog, with COM initialised there.
//
// This service sits in a file of its own so that a test can link a fake in its place.
// The Linux stand-in shows nothing and never reports a cancel.
class ProgressDialog {
public:
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;
    ProgressDialog(ProgressDialog&& other) noexcept;
    ProgressDialog& operator=(ProgressDialog&& other) noexcept;
    ~ProgressDialog();

    // CoCreateInstance of the shell's dialog in-process. A creation that reports success without
    // an object is an error too.
    static std::expected<ProgressDialog, ComError> create();

    // The texts are NUL-terminated UTF-16.
    std::expected<void, ComError> set_title(const char16_t* title);
    // Sets line `line` (1 to 3), without path compaction.
    std::expected<void, ComError> set_line(std::uint32_t line, const char16_t* text);
    // Shows the dialog without a parent, modeless, with no flag but PROGDLG_NOMINIMIZE.
    std::expected<void, ComError> start();
    bool has_user_cancelled();
    std::expected<void, ComError> set_progress(std::uint64_t completed, std::uint64_t total);
    std::expected<void, ComError> stop();

private:
    explicit ProgressDialog(void* dialog) : dialog_(dialog) {}
    void* dialog_ = nullptr; // the interface pointer
};

} // namespace platform
