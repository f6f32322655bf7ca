#include "com_error.hpp"

#include "platform/system_error.hpp"
#include "platform/text.hpp"
#include "wide.hpp"

#include <oleauto.h>

namespace platform::win32 {
namespace {

std::u16string_view trim_end(std::u16string_view text) {
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\r' || text.back() == u'\n' ||
                             text.back() == u'\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The description the failing object left for this thread, or nothing.
std::string error_info_description() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) {
        return {};
    }
    std::string description;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text != nullptr) {
        description = utf16_to_utf8(trim_end(utf16_view(text, SysStringLen(text))));
        SysFreeString(text);
    }
    info->Release();
    return description;
}

} // namespace

ComError com_error(std::string_view operation, HRESULT result) {
    const auto code = static_cast<std::uint32_t>(result);
    std::string message = error_info_description();
    if (message.empty()) {
        message = system_message(code);
    }
    return {operation, code, std::move(message)};
}

} // namespace platform::win32
