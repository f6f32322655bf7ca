#include "platform/known_folder.hpp"

#include "com_error.hpp"

#include <objbase.h>
#include <shlobj.h>

namespace platform {
namespace {

// FOLDERID_RoamingAppData {3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}
constexpr GUID ROAMING_APP_DATA = {
    0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};

// The shell's buffer must be released whether the call succeeds or not.
class ShellText {
public:
    ShellText() = default;
    ShellText(const ShellText&) = delete;
    ShellText& operator=(const ShellText&) = delete;
    ~ShellText() { CoTaskMemFree(text_); }
    PWSTR* out() { return &text_; }
    PCWSTR get() const { return text_; }

private:
    PWSTR text_ = nullptr;
};

} // namespace

std::expected<std::filesystem::path, ComError> roaming_app_data_folder() {
    ShellText path;
    const HRESULT result = SHGetKnownFolderPath(ROAMING_APP_DATA, 0, nullptr, path.out());
    if (FAILED(result)) {
        return std::unexpected(win32::com_error("SHGetKnownFolderPath", result));
    }
    return std::filesystem::path(path.get());
}

} // namespace platform
