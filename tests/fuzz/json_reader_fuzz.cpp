// libFuzzer target for the JSON reader: any bytes, no crash, no undefined behaviour, no leak
// (the sanitizers see to those), and these invariants, which abort when broken:
// - every failure names a point inside the text: its line exists and its column stays within
//   that line, up to the end of the text;
// - a decoded record, written back as JSON in either form, decodes to the same record;
// - the reader core's own failures point at most at the end of the text;
// - a configuration answer that decodes, written back as JSON, decodes to the same answer;
//   one that does not fails at a point inside the text, or without position when no form
//   matched;
// - a text the document tree reads is one the skipper steps over, to the same end;
// - a decoded tag is the record parse_installer_tag gives;
// - a tag failure's debug form is exactly Error("...", line: L, column: C), and its quoted part
//   unescapes back to the message;
// - where the document tree reads the text, the tag decoder's outcome is the one the tree
//   predicts: the form, the field types, repeated and missing fields, the array's length and
//   trailing text.
#include "kov/config_response.hpp"
#include "kov/installer_tag.hpp"
#include "kov/json_document.hpp"
#include "platform/text.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

namespace {

[[noreturn]] void broken(const char* what, std::string_view text) {
    std::fprintf(stderr, "invariant broken: %s (text of %zu bytes)\n", what, text.size());
    std::abort();
}

void check_position(const kov::JsonError& error, std::string_view text) {
    if (error.message.empty()) {
        broken("empty message", text);
    }
    if (error.line < 1) {
        broken("line 0", text);
    }
    std::size_t line_start = 0;
    for (std::size_t line = 1; line < error.line; ++line) {
        const std::size_t line_feed = text.find('\n', line_start);
        if (line_feed == std::string_view::npos) {
            broken("line past the last line", text);
        }
        line_start = line_feed + 1;
    }
    if (error.column > text.size() - line_start ||
        text.substr(line_start, error.column).find('\n') != std::string_view::npos) {
        broken("column past the end of its line", text);
    }
}

void append_json_string(std::string& out, std::string_view value) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void append_optional(std::string& out, const std::optional<std::string>& value) {
    if (value) {
        append_json_string(out, *value);
    } else {
        out += "null";
    }
}

void check_round_trip(const kov::InstallerTag& tag, std::string_view text) {
    std::string object = R"({"ca":)";
    append_optional(object, tag.ca);
    object += R"(,"config_url":)";
    append_json_string(object, tag.config_url);
    object += R"(,"installer_url":)";
    append_optional(object, tag.installer_url);
    object += '}';
    std::string array = "[";
    append_optional(array, tag.ca);
    array += ',';
    append_json_string(array, tag.config_url);
    array += ',';
    append_optional(array, tag.installer_url);
    array += ']';
    for (const std::string& written : {object, array}) {
        const auto again = kov::decode_installer_tag(written);
        if (!again || *again != tag) {
            broken("record written back decodes differently", text);
        }
    }
}

void check_core(std::string_view text) {
    kov::json::Cursor skipping{text};
    if (const auto skipped = skipping.skip_value(); !skipped) {
        if (skipped.error().offset > text.size()) {
            broken("skip failure past the end", text);
        }
        check_position(kov::json::to_error(text, skipped.error()), text);
    } else if (skipping.offset() > text.size()) {
        broken("skip went past the end", text);
    }
    if (!text.empty() && text.front() == '"') {
        kov::json::Cursor reading{text};
        reading.bump();
        std::string value;
        const auto read = reading.read_string(value, kov::json::Utf8::Check);
        if (!read && read.error().offset > text.size()) {
            broken("string failure past the end", text);
        }
    }
}

void check_answer(std::string_view text) {
    const auto answer = kov::decode_config_response(text);
    if (!answer) {
        if (answer.error().message == kov::NO_VARIANT_MATCHED) {
            if (answer.error().line != 0 || answer.error().column != 0) {
                broken("no-match failure with a position", text);
            }
        } else {
            check_position(answer.error(), text);
        }
    } else {
        std::string written;
        if (const auto* success =
                std::get_if<kov::InstallerConfigResponse::Success>(&answer->value)) {
            written = R"({"prompt":)";
            append_optional(written, success->prompt);
            written += R"(,"config":)";
            append_json_string(written, success->config);
            written += '}';
        } else {
            written = R"({"error":)";
            append_json_string(written, std::get<1>(answer->value).error);
            written += '}';
        }
        const auto again = kov::decode_config_response(written);
        if (!again || *again != *answer) {
            broken("answer written back decodes differently", text);
        }
    }

    const auto document = kov::json::Document::parse(text);
    if (!document) {
        if (document.error().offset > text.size()) {
            broken("document failure past the end", text);
        }
        return;
    }
    kov::json::Cursor skipping{text};
    if (!skipping.skip_value() || skipping.offset() != document->end()) {
        broken("document read where the skipper disagrees", text);
    }
}

std::string decimal(std::size_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    return {digits, end};
}

// The text inside the quotes of a debug form with its escapes undone, or nothing when an escape
// is not one the debug form writes.
std::optional<std::string> unescape_debug_quoted(std::string_view quoted) {
    std::string out;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            if (quoted[i] == '"') {
                return std::nullopt; // an unescaped quote would end the string early
            }
            out += quoted[i];
            continue;
        }
        if (++i == quoted.size()) {
            return std::nullopt;
        }
        switch (quoted[i]) {
        case '\\':
        case '"':
            out += quoted[i];
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '0':
            out += '\0';
            break;
        case 'u': {
            const std::size_t close = quoted.find('}', i);
            if (i + 1 >= quoted.size() || quoted[i + 1] != '{' || close == std::string_view::npos) {
                return std::nullopt;
            }
            std::uint32_t code_point = 0;
            const char* first = quoted.data() + i + 2;
            const char* last = quoted.data() + close;
            const auto [end, error] = std::from_chars(first, last, code_point, 16);
            if (first == last || end != last || error != std::errc{} || code_point > 0x10FFFF ||
                (code_point >= 0xD800 && code_point <= 0xDFFF)) {
                return std::nullopt;
            }
            char units[4];
            const int count = code_point < 0x80      ? 1
                              : code_point < 0x800   ? 2
                              : code_point < 0x10000 ? 3
                                                     : 4;
            static constexpr unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
            for (int k = count - 1; k > 0; --k) {
                units[k] = static_cast<char>(0x80 | (code_point & 0x3F));
                code_point >>= 6;
            }
            units[0] = static_cast<char>(lead[count] | code_point);
            out.append(units, static_cast<std::size_t>(count));
            i = close;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

void check_debug_form(const kov::JsonError& error, std::string_view text) {
    const std::string form = kov::debug_form(error);
    const std::string tail =
        "\", line: " + decimal(error.line) + ", column: " + decimal(error.column) + ")";
    if (!form.starts_with("Error(\"") || !form.ends_with(tail) || form.size() < 7 + tail.size()) {
        broken("debug form not laid out as Error(\"...\", line: L, column: C)", text);
    }
    const std::string_view quoted = std::string_view{form}.substr(7, form.size() - 7 - tail.size());
    const auto message = unescape_debug_quoted(quoted);
    if (!message) {
        broken("debug form with an escape of its own", text);
    }
    // Bytes that are not UTF-8 are written as U+FFFD, so only a UTF-8 message comes back whole.
    if (platform::is_valid_utf8(error.message) && *message != error.message) {
        broken("debug form does not unescape back to the message", text);
    }
}

// What the tag decoder must give for a text the document tree reads: a record, or the message
// of the first failure ("invalid type: " stands for any type error).
using Predicted = std::variant<kov::InstallerTag, std::string>;

constexpr std::string_view TYPE_ERROR = "invalid type: ";

// A field value: nothing for a wrong type, else the text or absent.
std::optional<std::optional<std::string>> field_value(kov::json::Value value, bool nullable) {
    if (value.kind() == kov::json::Kind::String) {
        return std::optional<std::string>{std::string{value.string()}};
    }
    if (nullable && value.kind() == kov::json::Kind::Null) {
        return std::optional<std::string>{};
    }
    return std::nullopt;
}

Predicted predict_object(kov::json::Members members) {
    static constexpr std::array<std::string_view, 3> fields = {"ca", "config_url", "installer_url"};
    std::array<std::optional<std::optional<std::string>>, 3> values;
    for (const kov::json::Member member : members) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (member.key != fields[i]) {
                continue;
            }
            if (values[i]) {
                return "duplicate field `" + std::string{fields[i]} + "`";
            }
            values[i] = field_value(member.value, i != 1);
            if (!values[i]) {
                return std::string{TYPE_ERROR};
            }
        }
    }
    if (!values[1]) {
        return std::string{"missing field `config_url`"};
    }
    return kov::InstallerTag{*values[0], **values[1], values[2].value_or(std::nullopt)};
}

Predicted predict_array(kov::json::Elements elements) {
    std::array<std::optional<std::string>, 3> values;
    std::size_t count = 0;
    for (const kov::json::Value element : elements) {
        if (count == 3) {
            return std::string{"trailing characters"};
        }
        auto value = field_value(element, count != 1);
        if (!value) {
            return std::string{TYPE_ERROR};
        }
        values[count++] = std::move(*value);
    }
    if (count < 3) {
        return "invalid length " + decimal(count) +
               ", expected struct InstallerTag with 3 elements";
    }
    return kov::InstallerTag{values[0], *values[1], values[2]};
}

void check_against_document(const std::expected<kov::InstallerTag, kov::JsonError>& tag,
                            std::string_view text) {
    const auto document = kov::json::Document::parse(text);
    if (!document) {
        return; // the tree is the stricter reader: nesting, UTF-8 and number ranges
    }
    const kov::json::Value root = document->root();
    Predicted predicted = std::string{TYPE_ERROR};
    if (root.kind() == kov::json::Kind::Object) {
        predicted = predict_object(root.members());
    } else if (root.kind() == kov::json::Kind::Array) {
        predicted = predict_array(root.elements());
    }
    const std::string_view rest = text.substr(document->end());
    const bool trailing = rest.find_first_not_of(" \t\n\r") != std::string_view::npos;
    if (trailing && std::holds_alternative<kov::InstallerTag>(predicted)) {
        predicted = std::string{"trailing characters"};
    }
    if (const auto* record = std::get_if<kov::InstallerTag>(&predicted)) {
        if (!tag || *tag != *record) {
            broken("tag decoder and document tree disagree on a record", text);
        }
        return;
    }
    const std::string& message = std::get<std::string>(predicted);
    if (tag || (message == TYPE_ERROR ? !tag.error().message.starts_with(TYPE_ERROR)
                                      : tag.error().message != message)) {
        broken("tag decoder and document tree disagree on a failure", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text{reinterpret_cast<const char*>(data), size};
    const auto tag = kov::decode_installer_tag(text);
    if (tag) {
        check_round_trip(*tag, text);
        if (kov::parse_installer_tag(text) != *tag) {
            broken("parse_installer_tag gives another record", text);
        }
    } else {
        check_position(tag.error(), text);
        check_debug_form(tag.error(), text);
    }
    check_against_document(tag, text);
    check_core(text);
    check_answer(text);
    return 0;
}
