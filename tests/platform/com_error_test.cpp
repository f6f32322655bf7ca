#include "platform/com_error.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ComErrorDescription, ShowsTheHresultAsEightHexDigits) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x80070002, "(HRESULT 0x80070002)"},
        {0x8000FFFF, "(HRESULT 0x8000FFFF)"},
        {0x0000000A, "(HRESULT 0x0000000A)"},
        {0, "(HRESULT 0x00000000)"},
    };
    for (const auto& [hresult, tail] : cases) {
        EXPECT_EQ(platform::describe({"SHGetKnownFolderPath", hresult, "Some text."}),
                  std::string("SHGetKnownFolderPath failed: Some text. ") + tail);
    }
}

} // namespace
