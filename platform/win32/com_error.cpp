#include "com_error.hpp"

#include "platform/system_error.hpp"
#include "platform/text.hpp"
#include "wide.hpp"

#include <oleauto.h>

namespace platform::win32 {
namespace {

// The description of the thread's current COM error object, or empty text when there is none.
std::string error_object_description() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) {
        return {};
    }
    BSTR description = nullptr;
    std::string text;
    if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
        text = utf16_to_utf8(utf16_view(description, SysStringLen(description)));
        SysFreeString(description);
    }
    info->Release();
    return text;
}

} // namespace

ComError com_error(std::string_view operation, HRESULT result) {
    const auto code = static_cast<std::uint32_t>(result);
    std::string message = error_object_description();
    if (message.empty()) {
        message = system_message(code);
    }
    return {operation, code, std::move(message)};
}

} // namespace platform::win32
