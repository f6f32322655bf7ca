#pragma once

namespace kov::json {

// Whether a quoted text in a failure report writes `code_point` as \u{hex} rather than as itself.
bool is_escaped_in_debug_form(char32_t code_point);

} // namespace kov::json
