#include "kov/config_fetch.hpp"

#include "kov/config_response.hpp"
#include "kov/fail_fast.hpp"
#include "platform/message_box.hpp"
#include "platform/text.hpp"

#include <utility>

namespace kov {
namespace {

constexpr char16_t BOX_CAPTION[] = u"Kovane Console";
constexpr std::uint32_t ERROR_BOX_STYLE = platform::BOX_OK | platform::BOX_ICON_WARNING;
constexpr std::uint32_t QUESTION_BOX_STYLE = platform::BOX_YES_NO | platform::BOX_ICON_WARNING;

constexpr std::string_view SILENT_QUERY_KEY = "is_silent_mode_requested";
constexpr std::string_view SILENT_QUERY_VALUE = "true";

// Shows a box without an owner and returns the button that closed it. The text goes over as
// NUL-terminated UTF-16, so the box shows it up to its first NUL; an empty text stays an empty
// string, never a null pointer.
int show_box(std::string_view text, std::uint32_t style) {
    const std::u16string units = platform::utf8_to_utf16(text);
    return platform::show_message_box(units.c_str(), BOX_CAPTION, style);
}

InstallerConfigResponse ask_service(bool silent_mode, std::string_view config_url,
                                    const HttpClient& client) {
    HttpRequest request = client.get(config_url);
    request.header("Accept", "application/json");
    // The locale is read even when the address was refused: that fault only surfaces at the send.
    request.header("Accept-Language", user_locale_name());
    if (silent_mode) {
        request.append_query_pair(SILENT_QUERY_KEY, SILENT_QUERY_VALUE);
    }
    // Any status goes on to the answer: the service may send its error form with any of them.
    HttpResponse response = take_or_fail(std::move(request).send());
    return take_or_fail(read_config_response(std::move(response)));
}

ConfigFetchOutcome on_error(bool silent_mode, std::string error) {
    if (!silent_mode) {
        (void)show_box(error, ERROR_BOX_STYLE); // only closing it matters
    }
    return {ConfigFetchOutcome::Kind::ServerError, std::move(error)};
}

ConfigFetchOutcome on_success(const InstallerConfigResponse::Success& success) {
    // The question is asked in silent mode too: the user must agree before anything is stored.
    if (success.prompt &&
        show_box(*success.prompt, QUESTION_BOX_STYLE) != platform::BOX_ANSWER_YES) {
        return {ConfigFetchOutcome::Kind::Declined, {}};
    }
    store_installer_config(success.config);
    return {ConfigFetchOutcome::Kind::Stored, {}};
}

} // namespace

ConfigFetchOutcome fetch_installer_config(bool silent_mode, std::string_view config_url,
                                          const HttpClient& client) {
    InstallerConfigResponse answer = ask_service(silent_mode, config_url, client);
    if (auto* error = std::get_if<InstallerConfigResponse::Error>(&answer.value)) {
        return on_error(silent_mode, std::move(error->error));
    }
    return on_success(std::get<InstallerConfigResponse::Success>(answer.value));
}

} // namespace kov
