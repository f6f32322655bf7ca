#include "kov/installer_tag.hpp"

#include "kov/fail_fast.hpp"

namespace kov {
namespace {

using json::Cursor;
using json::Fault;
using json::Syntax;

enum class Field { Ca, ConfigUrl, InstallerUrl, Ignored };

Field field_named(std::string_view key) {
    if (key == "ca") {
        return Field::Ca;
    }
    if (key == "config_url") {
        return Field::ConfigUrl;
    }
    if (key == "installer_url") {
        return Field::InstallerUrl;
    }
    return Field::Ignored;
}

std::string_view field_name(Field field) {
    switch (field) {
    case Field::Ca:
        return "ca";
    case Field::ConfigUrl:
        return "config_url";
    case Field::InstallerUrl:
        return "installer_url";
    case Field::Ignored:
        break;
    }
    return "";
}

class TagDecoder {
public:
    explicit TagDecoder(std::string_view text) : cursor_{text} {}

    std::expected<InstallerTag, JsonError> decode() {
        std::expected<InstallerTag, JsonError> tag = record();
        if (tag && cursor_.peek_token() != -1) {
            return std::unexpected(syntax(cursor_.after_peek(Syntax::TrailingCharacters)));
        }
        return tag;
    }

private:
    JsonError syntax(const Fault& fault) const { return json::to_error(cursor_.text(), fault); }
    JsonError here(std::string message) const {
        return json::error_at(cursor_.text(), cursor_.offset(), std::move(message));
    }

    std::expected<InstallerTag, JsonError> record() {
        switch (cursor_.peek_token()) {
        case -1:
            return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingValue)));
        case '{':
            cursor_.bump();
            return object_form();
        case '[':
            cursor_.bump();
            return array_form();
        default:
            return std::unexpected(type_error("struct InstallerTag"));
        }
    }

    // The value at the reading point does not have the type `expected` names.
    JsonError type_error(std::string_view expected) {
        const json::Result<std::string> found = cursor_.describe_unexpected();
        if (!found) {
            return syntax(found.error());
        }
        return here(json::invalid_type(*found, expected));
    }

    // A text for a field; null leaves an optional field absent.
    std::expected<std::optional<std::string>, JsonError> text_value(bool optional) {
        const int next = cursor_.peek_token();
        if (next == -1) {
            return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingValue)));
        }
        if (next == 'n' && optional) {
            if (auto null = cursor_.read_literal("null"); !null) {
                return std::unexpected(syntax(null.error()));
            }
            return std::optional<std::string>{};
        }
        if (next != '"') {
            return std::unexpected(type_error("a string"));
        }
        cursor_.bump();
        std::string text;
        if (auto read = cursor_.read_string(text); !read) {
            return std::unexpected(syntax(read.error()));
        }
        return std::optional<std::string>{std::move(text)};
    }

    std::expected<InstallerTag, JsonError> object_form() {
        std::optional<std::optional<std::string>> ca;
        std::optional<std::string> config_url;
        std::optional<std::optional<std::string>> installer_url;
        std::string key;
        for (bool first = true;; first = false) {
            int next = cursor_.peek_token();
            if (next == -1) {
                return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingObject)));
            }
            if (next == '}') {
                break;
            }
            if (!first) {
                if (next != ',') {
                    return std::unexpected(
                        syntax(cursor_.after_peek(Syntax::ExpectedObjectCommaOrEnd)));
                }
                cursor_.bump();
                next = cursor_.peek_token();
            }
            if (next == -1) {
                return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingValue)));
            }
            if (next == '}') {
                return std::unexpected(syntax(cursor_.after_peek(Syntax::TrailingComma)));
            }
            if (next != '"') {
                return std::unexpected(syntax(cursor_.after_peek(Syntax::KeyMustBeAString)));
            }
            cursor_.bump();
            key.clear();
            if (auto read = cursor_.read_string(key); !read) {
                return std::unexpected(syntax(read.error()));
            }
            const Field field = field_named(key);
            const bool repeated = (field == Field::Ca && ca) ||
                                  (field == Field::ConfigUrl && config_url) ||
                                  (field == Field::InstallerUrl && installer_url);
            if (repeated) {
                // Reported where reading stopped: past the blanks after the key, and past the
                // closing brace when that comes next.
                if (cursor_.peek_token() == '}') {
                    cursor_.bump();
                }
                std::string message = "duplicate field `";
                message += field_name(field);
                message += '`';
                return std::unexpected(here(std::move(message)));
            }
            const int colon = cursor_.peek_token();
            if (colon != ':') {
                return std::unexpected(syntax(colon == -1
                                                  ? cursor_.here(Syntax::EofWhileParsingObject)
                                                  : cursor_.after_peek(Syntax::ExpectedColon)));
            }
            cursor_.bump();
            if (field == Field::Ignored) {
                if (auto skipped = cursor_.skip_value(); !skipped) {
                    return std::unexpected(syntax(skipped.error()));
                }
                continue;
            }
            auto value = text_value(field != Field::ConfigUrl);
            if (!value) {
                return std::unexpected(std::move(value.error()));
            }
            switch (field) {
            case Field::Ca:
                ca = std::move(*value);
                break;
            case Field::ConfigUrl:
                config_url = std::move(**value);
                break;
            case Field::InstallerUrl:
                installer_url = std::move(*value);
                break;
            case Field::Ignored:
                break;
            }
        }
        cursor_.bump(); // the closing brace
        if (!config_url) {
            return std::unexpected(here("missing field `config_url`"));
        }
        return InstallerTag{ca ? std::move(*ca) : std::nullopt, std::move(*config_url),
                            installer_url ? std::move(*installer_url) : std::nullopt};
    }

    std::expected<InstallerTag, JsonError> array_form() {
        std::optional<std::string> values[3];
        for (int index = 0; index < 3; ++index) {
            int next = cursor_.peek_token();
            if (next == -1) {
                return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingList)));
            }
            if (next == ']') {
                cursor_.bump();
                std::string message = "invalid length ";
                message += static_cast<char>('0' + index);
                message += ", expected struct InstallerTag with 3 elements";
                return std::unexpected(here(std::move(message)));
            }
            if (index > 0) {
                if (next != ',') {
                    return std::unexpected(
                        syntax(cursor_.after_peek(Syntax::ExpectedListCommaOrEnd)));
                }
                cursor_.bump();
                next = cursor_.peek_token();
                if (next == -1) {
                    return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingValue)));
                }
                if (next == ']') {
                    return std::unexpected(syntax(cursor_.after_peek(Syntax::TrailingComma)));
                }
            }
            auto value = text_value(index != 1);
            if (!value) {
                return std::unexpected(std::move(value.error()));
            }
            values[index] = std::move(*value);
        }
        // After the third element only the closing bracket may follow.
        switch (cursor_.peek_token()) {
        case ']':
            cursor_.bump();
            break;
        case -1:
            return std::unexpected(syntax(cursor_.here(Syntax::EofWhileParsingList)));
        case ',':
            cursor_.bump();
            return std::unexpected(syntax(cursor_.peek_token() == ']'
                                              ? cursor_.after_peek(Syntax::TrailingComma)
                                              : cursor_.after_peek(Syntax::TrailingCharacters)));
        default:
            return std::unexpected(syntax(cursor_.after_peek(Syntax::TrailingCharacters)));
        }
        return InstallerTag{std::move(values[0]), std::move(*values[1]), std::move(values[2])};
    }

    Cursor cursor_;
};

} // namespace

std::expected<InstallerTag, JsonError> decode_installer_tag(std::string_view text) {
    return TagDecoder{text}.decode();
}

InstallerTag parse_installer_tag(std::string_view text) {
    std::expected<InstallerTag, JsonError> tag = decode_installer_tag(text);
    if (!tag) {
        fail_fast(debug_form(tag.error()));
    }
    return std::move(*tag);
}

} // namespace kov
