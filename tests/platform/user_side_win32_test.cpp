// The real Windows services of the user's side under Wine: the roaming folder, the locale name,
// COM error texts, and the configuration stored where the shell says.
#include "com_error.hpp"
#include "kov/config_fetch.hpp"
#include "platform/known_folder.hpp"
#include "platform/user_locale.hpp"

#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <oleauto.h>
#include <windows.h>

namespace {

namespace fs = std::filesystem;

TEST(RoamingFolder, IsAnExistingFolderOfTheCurrentUser) {
    const auto folder = platform::roaming_app_data_folder();
    ASSERT_TRUE(folder) << folder.error().message;
    EXPECT_TRUE(folder->is_absolute());
    EXPECT_TRUE(fs::is_directory(*folder));
    EXPECT_EQ(folder->filename(), "Roaming");
}

TEST(UserLocale, NamesTheUsersLocale) {
    // wine-run starts every program with LC_ALL=en_US.UTF-8.
    std::array<char16_t, platform::LOCALE_NAME_UNITS> buffer{};
    EXPECT_EQ(platform::user_default_locale_name(buffer), 6);
    EXPECT_EQ(std::u16string(buffer.data()), u"en-US");
    EXPECT_EQ(kov::user_locale_name(), "en-US");
}

TEST(ComError, PrefersTheErrorObjectsDescription) {
    ICreateErrorInfo* creator = nullptr;
    ASSERT_EQ(CreateErrorInfo(&creator), S_OK);
    creator->SetDescription(const_cast<LPOLESTR>(L"described by the object \u2603"));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    SetErrorInfo(0, info);
    info->Release();
    creator->Release();

    const auto described = platform::win32::com_error("SHGetKnownFolderPath", E_INVALIDARG);
    EXPECT_EQ(described.message, "described by the object \xE2\x98\x83");
    EXPECT_EQ(platform::describe(described),
              "SHGetKnownFolderPath failed: described by the object \xE2\x98\x83 "
              "(HRESULT 0x80070057)");

    // The object was taken: the next error falls back to the system's text.
    const auto plain = platform::win32::com_error("SHGetKnownFolderPath", E_INVALIDARG);
    EXPECT_EQ(plain.hresult, 0x80070057u);
    EXPECT_EQ(plain.message, platform::system_message(0x80070057u));
    ASSERT_FALSE(plain.message.empty());
    EXPECT_NE(plain.message.back(), '\n');
    EXPECT_NE(plain.message.back(), ' ');
}

TEST(StoreConfig, WritesIntoTheProductFolderOfTheRoamingFolder) {
    const fs::path product = *platform::roaming_app_data_folder() / "kovane-console";
    const fs::path file = product / "installer_config.json";
    const std::string config = "{\"a\":\"gr\xC3\xBC\xC3\x9F"
                               "e\"}\n";
    kov::store_installer_config(config);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              config);
    in.close();
    kov::store_installer_config("");
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(product), fs::directory_iterator()), 1);
    fs::remove_all(product);
}

} // namespace
