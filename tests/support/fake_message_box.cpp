#include "platform/message_box.hpp"
#include "platform_fakes.hpp"

namespace platform {

int show_message_box(const char16_t* text, const char16_t* caption, std::uint32_t style) {
    auto& fakes = test::fakes::boxes;
    fakes.push_back({text ? std::u16string(text) : std::u16string(),
                     caption ? std::u16string(caption) : std::u16string(), style, text == nullptr});
    const std::size_t turn = fakes.size() - 1;
    return turn < test::fakes::box_answers.size() ? test::fakes::box_answers[turn] : 0;
}

} // namespace platform
