#include "tag_reader.hpp"

#include <gtest/gtest.h>

namespace {

// The test binary itself is the program's own file here: an ELF file, which holds no tag.
TEST(ReadInstallerTag, OwnFileWithoutTagGivesNone) {
    EXPECT_EQ(kov::read_installer_tag(), std::nullopt);
}

} // namespace
