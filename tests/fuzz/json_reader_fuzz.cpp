// libFuzzer target for the JSON reader: any bytes, no crash, no undefined behaviour, no leak
// (the sanitizers see to those), and these invariants, which abort when broken:
// - every failure names a point inside the text: its line exists and its column stays within
//   that line, up to the end of the text;
// - a decoded record, written back as JSON in either form, decodes to the same record;
// - the reader core's own failures point at most at the end of the text;
// - a configuration answer that decodes, written back as JSON, decodes to the same answer;
//   one that does not fails at a point inside the text, or without position when no form
//   matched;
// - a text the document tree reads is one the skipper steps over, to the same end.
#include "kov/config_response.hpp"
#include "kov/installer_tag.hpp"
#include "kov/json_document.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text{reinterpret_cast<const char*>(data), size};
    const auto tag = kov::decode_installer_tag(text);
    if (tag) {
        check_round_trip(*tag, text);
    } else {
        check_position(tag.error(), text);
        (void)kov::debug_form(tag.error());
    }
    check_core(text);
    check_answer(text);
    return 0;
}
