// The user's Internet Settings through the registry, run under Wine in a throw-away prefix.
#include "kov/proxy.hpp"
#include "platform/text.hpp"

#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace {

constexpr const wchar_t* key_path =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string utf8(std::wstring_view text) {
    return platform::utf16_to_utf8({reinterpret_cast<const char16_t*>(text.data()), text.size()});
}

kov::ProxyTable table(std::optional<std::string> http, std::optional<std::string> https) {
    kov::ProxyTable proxies;
    proxies.http = std::move(http);
    proxies.https = std::move(https);
    return proxies;
}

kov::ProxyTable table_without_environment() {
    return kov::read_proxy_table([](std::string_view) { return std::optional<std::string>{}; },
                                 kov::read_internet_settings);
}

// Writes the two values each test needs and removes them again.
class InternetSettingsKey : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        remove_values();
    }
    void TearDown() override {
        if (key_ != nullptr) {
            remove_values();
            RegCloseKey(key_);
        }
    }

    void remove_values() {
        RegDeleteValueW(key_, L"ProxyEnable");
        RegDeleteValueW(key_, L"ProxyServer");
    }

    void set_raw(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
    void set_enable(DWORD value) { set_raw(L"ProxyEnable", REG_DWORD, &value, sizeof value); }
    // The registry keeps what it is given: with or without the terminator.
    void set_server(const std::wstring& text, DWORD type = REG_SZ, bool terminated = true) {
        set_raw(L"ProxyServer", type, text.c_str(),
                (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
    }

    HKEY key_ = nullptr;
};

struct Case {
    const char* name;
    DWORD enable;
    const wchar_t* server;
    kov::ProxyTable expected;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ProxyServerValue : public InternetSettingsKey, public testing::WithParamInterface<Case> {};

TEST_P(ProxyServerValue, GivesTheTable) {
    set_enable(GetParam().enable);
    set_server(GetParam().server);

    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxy_enable, GetParam().enable);
    EXPECT_EQ(settings->proxy_server, utf8(GetParam().server));
    EXPECT_EQ(table_without_environment(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, ProxyServerValue,
    testing::Values(
        Case{"Disabled", 0, L"proxy.example:8080", {}},
        Case{"HostAndPortServesBoth", 1, L"proxy.example:8080",
             table("http://proxy.example:8080", "http://proxy.example:8080")},
        Case{"HttpSchemeServesHttpOnly", 1, L"http://proxy.example:8080",
             table("http://proxy.example:8080", std::nullopt)},
        Case{"ListPerScheme", 1, L"http=plain.example:8080;https=secure.example:8443",
             table("http://plain.example:8080", "http://secure.example:8443")},
        Case{"MalformedListGivesNothing", 1, L"http=plain.example:8080;secure.example:8443", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InternetSettingsKey, StringWithoutStoredTerminator) {
    set_enable(1);
    set_server(L"proxy.example:8080", REG_SZ, false);
    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxy_server, "proxy.example:8080");
}

TEST_F(InternetSettingsKey, TextEndsAtItsFirstNul) {
    set_enable(1);
    set_server(std::wstring(L"proxy.example:8080\0junk", 23));
    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxy_server, "proxy.example:8080");
}

TEST_F(InternetSettingsKey, ExpandableStringReadUnexpanded) {
    set_enable(1);
    set_server(L"%PROXY%:8080", REG_EXPAND_SZ);
    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxy_server, "%PROXY%:8080");
}

TEST_F(InternetSettingsKey, LongAndNonAsciiTextReadWhole) {
    std::wstring list;
    for (int i = 0; i < 400; ++i) {
        list += L"ftp=f" + std::to_wstring(i) + L".example:21;";
    }
    list += L"https=pr\u00f6xy-\U0001F600.example:8443";
    set_enable(1);
    set_server(list);
    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    ASSERT_TRUE(settings->proxy_server);
    // Longer than any fixed buffer of a page, and the UTF-8 spelled out rather than converted.
    EXPECT_EQ(settings->proxy_server->size(), 7890u + 30u); // the ftp entries, the https one
    EXPECT_TRUE(
        settings->proxy_server->ends_with(";https=pr\xc3\xb6xy-\xf0\x9f\x98\x80.example:8443"));
}

TEST_F(InternetSettingsKey, ValuesOfAnotherKindAreMissing) {
    set_raw(L"ProxyEnable", REG_SZ, L"1", 2 * sizeof(wchar_t));
    const DWORD number = 1;
    set_raw(L"ProxyServer", REG_DWORD, &number, sizeof number);
    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxy_enable, std::nullopt);
    EXPECT_EQ(settings->proxy_server, std::nullopt);
}

TEST_F(InternetSettingsKey, WithoutProxyEnableNothingIsUsed) {
    set_server(L"proxy.example:8080");
    const auto settings = kov::read_internet_settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxy_enable, std::nullopt);
    EXPECT_EQ(table_without_environment(), kov::ProxyTable{});
}

TEST_F(InternetSettingsKey, MissingKeyGivesNothing) {
    RegCloseKey(key_);
    key_ = nullptr;
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, key_path), ERROR_SUCCESS);
    EXPECT_EQ(kov::read_internet_settings(), std::nullopt);
    EXPECT_EQ(table_without_environment(), kov::ProxyTable{});
}

} // namespace
