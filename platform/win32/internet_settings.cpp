#include "platform/internet_settings.hpp"

#include "platform/text.hpp"

#include <cstring>
#include <utility>
#include <vector>
#include <windows.h>

namespace platform {
namespace {

constexpr const wchar_t* internet_settings_key =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// An open registry key, closed when its owner ends.
class RegistryKey {
public:
    static std::optional<RegistryKey> open(HKEY parent, const wchar_t* path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return RegistryKey(key);
    }
    RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegistryKey& operator=(RegistryKey&&) = delete;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }

    HKEY get() const { return key_; }

private:
    explicit RegistryKey(HKEY key) : key_(key) {}
    HKEY key_;
};

// A value's kind and data, whatever its size. Nothing when it is missing or cannot be read.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;
};

std::optional<RawValue> query_value(const RegistryKey& key, const wchar_t* name) {
    RawValue value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size);
    // The value may grow between asking for its size and reading it: ask again then.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        value.data.resize(size);
        status = RegQueryValueExW(key.get(), name, nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_SUCCESS) {
            value.data.resize(size);
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> read_dword(const RegistryKey& key, const wchar_t* name) {
    const auto value = query_value(key, name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD number = 0;
    std::memcpy(&number, value->data.data(), sizeof number);
    return number;
}

// A string value as UTF-8. The stored data may or may not end in its terminator; the text ends
// at the first NUL either way. An odd last byte is not a UTF-16 unit and is dropped.
std::optional<std::string> read_string(const RegistryKey& key, const wchar_t* name) {
    const auto value = query_value(key, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::u16string units(value->data.size() / sizeof(char16_t), u'\0');
    std::memcpy(units.data(), value->data.data(), units.size() * sizeof(char16_t));
    const std::u16string_view text(units);
    return utf16_to_utf8(text.substr(0, text.find(u'\0')));
}

} // namespace

std::optional<InternetSettingsValues> read_user_internet_settings() {
    const auto key = RegistryKey::open(HKEY_CURRENT_USER, internet_settings_key);
    if (!key) {
        return std::nullopt;
    }
    return InternetSettingsValues{
        .proxy_enable = read_dword(*key, L"ProxyEnable"),
        .proxy_server = read_string(*key, L"ProxyServer"),
    };
}

} // namespace platform
