#pragma once

// Fakes of the platform services on the user's side, linked into a test in place of the real
// ones. Each test sets what the fake answers and reads what it was asked.
#include "platform/com_error.hpp"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace test::fakes {

// fake_known_folder.cpp: the roaming folder, or the query's failure.
inline std::expected<std::filesystem::path, platform::ComError> roaming_folder =
    std::unexpected(platform::ComError{"SHGetKnownFolderPath", 0x80004005, "no folder set"});
inline int known_folder_queries = 0;

// fake_user_locale.cpp: the units written into the caller's buffer and the count returned.
struct LocaleAnswer {
    std::u16string units;
    int result = 0;
};
inline LocaleAnswer locale_answer{u"en-US", 6};
struct LocaleQuery {
    std::size_t buffer_size = 0;
    bool buffer_was_zeroed = false;
};
inline std::vector<LocaleQuery> locale_queries;

// fake_message_box.cpp: the boxes shown, and the answers given in turn (0 when none is left).
struct BoxShown {
    std::u16string text; // as the box shows it: up to the first NUL
    std::u16string caption;
    std::uint32_t style = 0;
    bool text_was_null = false;
};
inline std::vector<BoxShown> boxes;
inline std::vector<int> box_answers;

} // namespace test::fakes
