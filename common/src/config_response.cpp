#include "kov/config_response.hpp"

#include "kov/json_document.hpp"

#include <utility>

namespace kov {
namespace {

using json::Document;
using json::Kind;
using json::Value;

// The members that each form uses, found in an object that has them in the allowed kinds, each
// at most once. Every other member is ignored whatever it holds.
struct SuccessMembers {
    std::optional<Value> prompt; // absent, or given as null
    Value config;
};

std::optional<SuccessMembers> match_success(Value root) {
    if (root.kind() != Kind::Object) {
        return std::nullopt;
    }
    std::optional<Value> config;
    std::optional<Value> prompt;
    bool prompt_seen = false;
    for (const json::Member member : root.members()) {
        if (member.key == "config") {
            if (config || member.value.kind() != Kind::String) {
                return std::nullopt;
            }
            config = member.value;
        } else if (member.key == "prompt") {
            if (prompt_seen) {
                return std::nullopt; // even when the first one was null
            }
            prompt_seen = true;
            if (member.value.kind() == Kind::String) {
                prompt = member.value;
            } else if (member.value.kind() != Kind::Null) {
                return std::nullopt;
            }
        }
    }
    if (!config) {
        return std::nullopt;
    }
    return SuccessMembers{prompt, *config};
}

std::optional<Value> match_error(Value root) {
    if (root.kind() != Kind::Object) {
        return std::nullopt;
    }
    std::optional<Value> error;
    for (const json::Member member : root.members()) {
        if (member.key == "error") {
            if (error || member.value.kind() != Kind::String) {
                return std::nullopt;
            }
            error = member.value;
        }
    }
    return error;
}

} // namespace

std::expected<InstallerConfigResponse, JsonError> decode_config_response(std::string_view body) {
    json::Result<Document> parsed = Document::parse(body);
    if (!parsed) {
        return std::unexpected(json::to_error(body, parsed.error()));
    }
    Document& document = *parsed;
    std::optional<SuccessMembers> success = match_success(document.root());
    std::optional<Value> error = success ? std::nullopt : match_error(document.root());
    if (!success && !error) {
        return std::unexpected(JsonError{std::string{NO_VARIANT_MATCHED}, 0, 0});
    }
    // Only after a match: what follows the value may be whitespace and nothing else.
    json::Cursor rest{body};
    rest.seek(document.end());
    if (rest.peek_token() != -1) {
        return std::unexpected(
            json::to_error(body, rest.after_peek(json::Syntax::TrailingCharacters)));
    }
    if (error) {
        return InstallerConfigResponse{
            InstallerConfigResponse::Error{document.take_string(*error)}};
    }
    std::optional<std::string> prompt;
    if (success->prompt) {
        prompt = document.take_string(*success->prompt);
    }
    return InstallerConfigResponse{
        InstallerConfigResponse::Success{std::move(prompt), document.take_string(success->config)}};
}

} // namespace kov
