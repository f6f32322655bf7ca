#include "url.hpp"

#include "idna.hpp"
#include "platform/text.hpp"

#include <array>
#include <charconv>

namespace kov::url {
namespace {

// The percent-encode sets; bytes from 0x80 up belong to every set.
enum class EncodeSet { C0Control, Fragment, Query, SpecialQuery, Path, Userinfo };

constexpr std::uint8_t bit(EncodeSet set) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(set));
}

// For each ASCII byte, the sets that hold it.
constexpr std::array<std::uint8_t, 128> make_set_table() {
    std::array<std::uint8_t, 128> table{};
    const auto add = [&table](std::string_view bytes, std::uint8_t sets) {
        for (const char c : bytes) {
            table[static_cast<unsigned char>(c)] |= sets;
        }
    };
    constexpr std::uint8_t all = 0x3F;
    for (unsigned c = 0; c < 0x20; ++c) {
        table[c] = all;
    }
    table[0x7F] = all;
    const std::uint8_t query = bit(EncodeSet::Query) | bit(EncodeSet::SpecialQuery) |
                               bit(EncodeSet::Path) | bit(EncodeSet::Userinfo);
    const std::uint8_t path = bit(EncodeSet::Path) | bit(EncodeSet::Userinfo);
    add(" \"<>", query | bit(EncodeSet::Fragment));
    add("#", query);
    add("'", bit(EncodeSet::SpecialQuery));
    add("`", path | bit(EncodeSet::Fragment));
    add("?{}", path);
    add("/:;=@[\\]^|", bit(EncodeSet::Userinfo));
    return table;
}
constexpr auto SET_TABLE = make_set_table();

bool in_set(unsigned char c, EncodeSet set) {
    return c >= 0x80 || (SET_TABLE[c] & bit(set)) != 0;
}

constexpr char HEX[] = "0123456789ABCDEF";

void encode(std::string& out, char c, EncodeSet set) {
    const auto byte = static_cast<unsigned char>(c);
    if (in_set(byte, set)) {
        out += '%';
        out += HEX[byte >> 4];
        out += HEX[byte & 0x0F];
    } else {
        out += c;
    }
}

void encode(std::string& out, std::string_view text, EncodeSet set) {
    for (const char c : text) {
        encode(out, c, set);
    }
}

bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
int hex_value(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_special_scheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https" || scheme == "ws" || scheme == "wss" ||
           scheme == "ftp" || scheme == "file";
}

bool is_single_dot(std::string_view s) {
    return s == "." || (s.size() == 3 && s[0] == '%' && s[1] == '2' && lower(s[2]) == 'e');
}

bool is_double_dot(std::string_view s) {
    const auto dot = [](std::string_view part) { return is_single_dot(part); };
    if (s == "..") {
        return true;
    }
    if (s.size() == 4) { // ".%2e" or "%2e."
        return (s[0] == '.' && dot(s.substr(1))) || (s[3] == '.' && dot(s.substr(0, 3)));
    }
    return s.size() == 6 && dot(s.substr(0, 3)) && dot(s.substr(3));
}

bool is_windows_drive_letter(std::string_view s) {
    return s.size() == 2 && is_alpha(s[0]) && (s[1] == ':' || s[1] == '|');
}
bool is_normalized_windows_drive_letter(std::string_view s) {
    return s.size() == 2 && is_alpha(s[0]) && s[1] == ':';
}
bool starts_with_windows_drive_letter(std::string_view s) {
    return s.size() >= 2 && is_windows_drive_letter(s.substr(0, 2)) &&
           (s.size() == 2 || s[2] == '/' || s[2] == '\\' || s[2] == '?' || s[2] == '#');
}

bool is_forbidden_host(char c) {
    switch (c) {
    case '\0':
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '#':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|':
        return true;
    default:
        return false;
    }
}
bool is_forbidden_domain(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return is_forbidden_host(c) || byte <= 0x1F || c == '%' || byte == 0x7F;
}

// ---- IPv4 -------------------------------------------------------------------------------

// An IPv4 part in decimal, octal ("0" first) or hexadecimal ("0x" first); values past 2^32 are
// kept as 2^32, which every caller refuses.
std::optional<std::uint64_t> ipv4_number(std::string_view input) {
    if (input.empty()) {
        return std::nullopt;
    }
    unsigned radix = 10;
    if (input.size() >= 2 && input[0] == '0' && (input[1] == 'x' || input[1] == 'X')) {
        input.remove_prefix(2);
        radix = 16;
    } else if (input.size() >= 2 && input[0] == '0') {
        input.remove_prefix(1);
        radix = 8;
    }
    std::uint64_t value = 0;
    constexpr std::uint64_t cap = std::uint64_t{1} << 32;
    for (const char c : input) {
        const int digit = hex_value(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= radix) {
            return std::nullopt;
        }
        value = value * radix + static_cast<unsigned>(digit);
        if (value > cap) {
            value = cap;
        }
    }
    return value;
}

bool ends_in_a_number(std::string_view input) {
    if (input.ends_with('.')) {
        input.remove_suffix(1);
        if (input.find('.') == std::string_view::npos && input.empty()) {
            return false;
        }
    }
    const auto dot = input.rfind('.');
    const std::string_view last = dot == std::string_view::npos ? input : input.substr(dot + 1);
    if (!last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos) {
        return true;
    }
    return ipv4_number(last).has_value();
}

std::expected<std::string, std::string_view> parse_ipv4(std::string_view input) {
    if (input.ends_with('.')) {
        input.remove_suffix(1);
    }
    std::uint64_t numbers[4] = {};
    std::size_t count = 0;
    for (;;) {
        const auto dot = input.find('.');
        if (count == 4) {
            return std::unexpected(INVALID_IPV4);
        }
        const auto number = ipv4_number(input.substr(0, dot));
        if (!number) {
            return std::unexpected(INVALID_IPV4);
        }
        numbers[count++] = *number;
        if (dot == std::string_view::npos) {
            break;
        }
        input.remove_prefix(dot + 1);
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (numbers[i] > 255) {
            return std::unexpected(INVALID_IPV4);
        }
    }
    const std::uint64_t last_limit = std::uint64_t{1} << (8 * (5 - count));
    if (numbers[count - 1] >= last_limit) {
        return std::unexpected(INVALID_IPV4);
    }
    std::uint64_t address = numbers[count - 1];
    for (std::size_t i = 0; i + 1 < count; ++i) {
        address += numbers[i] << (8 * (3 - i));
    }
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += std::to_string((address >> shift) & 0xFF);
        if (shift > 0) {
            out += '.';
        }
    }
    return out;
}

// ---- IPv6 -------------------------------------------------------------------------------

std::expected<std::string, std::string_view> parse_ipv6(std::string_view input) {
    std::uint16_t address[8] = {};
    int piece = 0;
    int compress = -1;
    std::size_t p = 0;
    const auto at = [&](std::size_t i) -> char { return i < input.size() ? input[i] : '\0'; };
    const auto fail = std::unexpected(INVALID_IPV6);
    if (at(p) == ':') {
        if (at(p + 1) != ':') {
            return fail;
        }
        p += 2;
        compress = ++piece;
    }
    while (p < input.size()) {
        if (piece == 8) {
            return fail;
        }
        if (input[p] == ':') {
            if (compress != -1) {
                return fail;
            }
            ++p;
            compress = ++piece;
            continue;
        }
        unsigned value = 0;
        int length = 0;
        while (length < 4 && p < input.size() && hex_value(input[p]) >= 0) {
            value = value * 16 + static_cast<unsigned>(hex_value(input[p]));
            ++p;
            ++length;
        }
        if (at(p) == '.') {
            if (length == 0) {
                return fail;
            }
            p -= static_cast<std::size_t>(length);
            if (piece > 6) {
                return fail;
            }
            int numbers_seen = 0;
            while (p < input.size()) {
                int ipv4_piece = -1;
                if (numbers_seen > 0) {
                    if (input[p] == '.' && numbers_seen < 4) {
                        ++p;
                    } else {
                        return fail;
                    }
                }
                if (!is_digit(at(p))) {
                    return fail;
                }
                while (is_digit(at(p))) {
                    const int number = input[p] - '0';
                    if (ipv4_piece == -1) {
                        ipv4_piece = number;
                    } else if (ipv4_piece == 0) {
                        return fail;
                    } else {
                        ipv4_piece = ipv4_piece * 10 + number;
                    }
                    if (ipv4_piece > 255) {
                        return fail;
                    }
                    ++p;
                }
                address[piece] = static_cast<std::uint16_t>(address[piece] * 0x100 + ipv4_piece);
                ++numbers_seen;
                if (numbers_seen == 2 || numbers_seen == 4) {
                    ++piece;
                }
            }
            if (numbers_seen != 4) {
                return fail;
            }
            break;
        }
        if (at(p) == ':') {
            ++p;
            if (p >= input.size()) {
                return fail;
            }
        } else if (p < input.size()) {
            return fail;
        }
        address[piece++] = static_cast<std::uint16_t>(value);
    }
    if (compress != -1) {
        int swaps = piece - compress;
        piece = 7;
        while (piece != 0 && swaps > 0) {
            std::swap(address[piece], address[compress + swaps - 1]);
            --piece;
            --swaps;
        }
    } else if (piece != 8) {
        return fail;
    }

    // Serialization: the first longest run of two or more zero pieces becomes "::".
    int best = -1;
    int best_length = 1;
    for (int i = 0; i < 8;) {
        if (address[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && address[j] == 0) {
            ++j;
        }
        if (j - i > best_length) {
            best = i;
            best_length = j - i;
        }
        i = j;
    }
    std::string out = "[";
    bool ignore0 = false;
    for (int i = 0; i < 8; ++i) {
        if (ignore0 && address[i] == 0) {
            continue;
        }
        ignore0 = false;
        if (best == i) {
            out += i == 0 ? "::" : ":";
            ignore0 = true;
            continue;
        }
        char text[8];
        const auto end = std::to_chars(text, text + sizeof text, address[i], 16).ptr;
        out.append(text, end);
        if (i != 7) {
            out += ':';
        }
    }
    out += ']';
    return out;
}

// ---- hosts ------------------------------------------------------------------------------

std::expected<std::string, std::string_view> parse_host(std::string_view input, bool opaque) {
    if (input.starts_with('[')) {
        if (!input.ends_with(']')) {
            return std::unexpected(INVALID_IPV6);
        }
        return parse_ipv6(input.substr(1, input.size() - 2));
    }
    if (opaque) {
        for (const char c : input) {
            if (is_forbidden_host(c)) {
                return std::unexpected(INVALID_DOMAIN_CHARACTER);
            }
        }
        std::string out;
        encode(out, input, EncodeSet::C0Control);
        return out;
    }
    const std::string domain = percent_decode(input);
    // Bytes that are no UTF-8 decode to U+FFFD, which no domain may hold.
    if (!platform::is_valid_utf8(domain)) {
        return std::unexpected(INVALID_IDNA);
    }
    auto ascii = domain_to_ascii(domain);
    if (!ascii) {
        return std::unexpected(INVALID_IDNA);
    }
    for (const char c : *ascii) {
        if (is_forbidden_domain(c)) {
            return std::unexpected(INVALID_DOMAIN_CHARACTER);
        }
    }
    if (ends_in_a_number(*ascii)) {
        return parse_ipv4(*ascii);
    }
    return std::move(*ascii);
}

// ---- the state machine ------------------------------------------------------------------

enum class State {
    SchemeStart,
    Scheme,
    NoScheme,
    SpecialRelativeOrAuthority,
    PathOrAuthority,
    Relative,
    RelativeSlash,
    SpecialAuthoritySlashes,
    SpecialAuthorityIgnoreSlashes,
    Authority,
    Host,
    Port,
    File,
    FileSlash,
    FileHost,
    PathStart,
    Path,
    OpaquePath,
    Query,
    Fragment,
};

// Removes the last path segment, except a file URL's lone drive letter.
void shorten_path(Url& url) {
    if (url.scheme == "file" && url.path.size() == 3 &&
        is_normalized_windows_drive_letter(std::string_view(url.path).substr(1))) {
        return;
    }
    const auto slash = url.path.rfind('/');
    if (slash != std::string::npos) {
        url.path.erase(slash);
    }
}

// Leading and trailing C0 controls and blanks go; tabs and line breaks go everywhere.
std::string preprocess(std::string_view input) {
    while (!input.empty() && static_cast<unsigned char>(input.front()) <= 0x20) {
        input.remove_prefix(1);
    }
    while (!input.empty() && static_cast<unsigned char>(input.back()) <= 0x20) {
        input.remove_suffix(1);
    }
    std::string out;
    out.reserve(input.size());
    for (const char c : input) {
        if (c != '\t' && c != '\n' && c != '\r') {
            out += c;
        }
    }
    return out;
}

class Parser {
public:
    Parser(std::string_view input, const Url* base) : input_(input), base_(base) {}

    std::expected<Url, std::string_view> run() {
        // One past the end stands for the end of input; the states see it as '\0' with `eof`.
        const auto end = static_cast<std::ptrdiff_t>(input_.size());
        for (;; ++p_) {
            const bool eof = p_ >= end;
            const char c = eof ? '\0' : input_[static_cast<std::size_t>(p_)];
            if (auto stepped = step(c, eof); !stepped) {
                return std::unexpected(stepped.error());
            }
            // A state that steps back at the end sees the end again.
            if (p_ >= end) {
                break;
            }
        }
        return std::move(url_);
    }

private:
    std::string_view remaining() const {
        const auto next = static_cast<std::size_t>(p_ + 1);
        return next < input_.size() ? input_.substr(next) : std::string_view();
    }
    std::string_view from_here() const {
        const auto here = static_cast<std::size_t>(p_);
        return here < input_.size() ? input_.substr(here) : std::string_view();
    }
    bool special() const { return is_special_scheme(url_.scheme); }
    void take_base_authority() {
        url_.username = base_->username;
        url_.password = base_->password;
        url_.host = base_->host;
        url_.port = base_->port;
    }
    void append_segment(std::string_view segment) {
        url_.path += '/';
        url_.path += segment;
    }

    std::expected<void, std::string_view> step(char c, bool eof);

    std::string_view input_;
    const Url* base_;
    Url url_;
    State state_ = State::SchemeStart;
    std::ptrdiff_t p_ = 0;
    std::string buffer_;
    bool at_sign_seen_ = false;
    bool inside_brackets_ = false;
    bool password_token_seen_ = false;
};

std::expected<void, std::string_view> Parser::step(char c, bool eof) {
    const bool slash_like = c == '/' || (special() && c == '\\');
    switch (state_) {
    case State::SchemeStart:
        if (!eof && is_alpha(c)) {
            buffer_ += lower(c);
            state_ = State::Scheme;
        } else {
            state_ = State::NoScheme;
            --p_;
        }
        return {};
    case State::Scheme:
        if (!eof && (is_alpha(c) || is_digit(c) || c == '+' || c == '-' || c == '.')) {
            buffer_ += lower(c);
        } else if (!eof && c == ':') {
            url_.scheme = std::move(buffer_);
            buffer_.clear();
            if (url_.scheme == "file") {
                state_ = State::File;
            } else if (special() && base_ && base_->scheme == url_.scheme) {
                state_ = State::SpecialRelativeOrAuthority;
            } else if (special()) {
                state_ = State::SpecialAuthoritySlashes;
            } else if (remaining().starts_with('/')) {
                state_ = State::PathOrAuthority;
                ++p_;
            } else {
                url_.opaque_path = true;
                state_ = State::OpaquePath;
            }
        } else {
            buffer_.clear();
            state_ = State::NoScheme;
            p_ = -1;
        }
        return {};
    case State::NoScheme:
        if (!base_ || (base_->opaque_path && c != '#') || (base_->opaque_path && eof)) {
            return std::unexpected(MISSING_SCHEME);
        }
        if (base_->opaque_path) {
            url_.scheme = base_->scheme;
            url_.path = base_->path;
            url_.opaque_path = true;
            url_.query = base_->query;
            url_.fragment = std::string();
            state_ = State::Fragment;
        } else {
            state_ = base_->scheme == "file" ? State::File : State::Relative;
            --p_;
        }
        return {};
    case State::SpecialRelativeOrAuthority:
        if (c == '/' && remaining().starts_with('/')) {
            state_ = State::SpecialAuthorityIgnoreSlashes;
            ++p_;
        } else {
            state_ = State::Relative;
            --p_;
        }
        return {};
    case State::PathOrAuthority:
        if (c == '/') {
            state_ = State::Authority;
        } else {
            state_ = State::Path;
            --p_;
        }
        return {};
    case State::Relative:
        url_.scheme = base_->scheme;
        if (!eof && (c == '/' || (special() && c == '\\'))) {
            state_ = State::RelativeSlash;
            return {};
        }
        take_base_authority();
        url_.path = base_->path;
        url_.query = base_->query;
        if (!eof && c == '?') {
            url_.query = std::string();
            state_ = State::Query;
        } else if (!eof && c == '#') {
            url_.fragment = std::string();
            state_ = State::Fragment;
        } else if (!eof) {
            url_.query.reset();
            shorten_path(url_);
            state_ = State::Path;
            --p_;
        }
        return {};
    case State::RelativeSlash:
        if (special() && (c == '/' || c == '\\')) {
            state_ = State::SpecialAuthorityIgnoreSlashes;
        } else if (c == '/') {
            state_ = State::Authority;
        } else {
            take_base_authority();
            state_ = State::Path;
            --p_;
        }
        return {};
    case State::SpecialAuthoritySlashes:
        state_ = State::SpecialAuthorityIgnoreSlashes;
        if (c == '/' && remaining().starts_with('/')) {
            ++p_;
        } else {
            --p_;
        }
        return {};
    case State::SpecialAuthorityIgnoreSlashes:
        if (eof || (c != '/' && c != '\\')) {
            state_ = State::Authority;
            --p_;
        }
        return {};
    case State::Authority:
        if (!eof && c == '@') {
            if (at_sign_seen_) {
                buffer_.insert(0, "%40");
            }
            at_sign_seen_ = true;
            for (const char b : buffer_) {
                if (b == ':' && !password_token_seen_) {
                    password_token_seen_ = true;
                    continue;
                }
                encode(password_token_seen_ ? url_.password : url_.username, b,
                       EncodeSet::Userinfo);
            }
            buffer_.clear();
        } else if (eof || slash_like || c == '?' || c == '#') {
            if (at_sign_seen_ && buffer_.empty()) {
                return std::unexpected(EMPTY_HOST);
            }
            p_ -= static_cast<std::ptrdiff_t>(buffer_.size()) + 1;
            buffer_.clear();
            state_ = State::Host;
        } else {
            buffer_ += c;
        }
        return {};
    case State::Host:
        if (!eof && c == ':' && !inside_brackets_) {
            if (buffer_.empty()) {
                return std::unexpected(EMPTY_HOST);
            }
            auto host = parse_host(buffer_, !special());
            if (!host) {
                return std::unexpected(host.error());
            }
            url_.host = std::move(*host);
            buffer_.clear();
            state_ = State::Port;
        } else if (eof || slash_like || c == '?' || c == '#') {
            --p_;
            if (special() && buffer_.empty()) {
                return std::unexpected(EMPTY_HOST);
            }
            auto host = buffer_.empty() ? std::expected<std::string, std::string_view>()
                                        : parse_host(buffer_, !special());
            if (!host) {
                return std::unexpected(host.error());
            }
            url_.host = std::move(*host);
            buffer_.clear();
            state_ = State::PathStart;
        } else {
            if (c == '[') {
                inside_brackets_ = true;
            } else if (c == ']') {
                inside_brackets_ = false;
            }
            buffer_ += c;
        }
        return {};
    case State::Port:
        if (!eof && is_digit(c)) {
            buffer_ += c;
        } else if (eof || slash_like || c == '?' || c == '#') {
            if (!buffer_.empty()) {
                std::uint32_t port = 0;
                for (const char d : buffer_) {
                    port = port * 10 + static_cast<std::uint32_t>(d - '0');
                    if (port > 65535) {
                        return std::unexpected(INVALID_PORT);
                    }
                }
                const auto value = static_cast<std::uint16_t>(port);
                url_.port =
                    default_port(url_.scheme) == value ? std::nullopt : std::optional(value);
                buffer_.clear();
            }
            state_ = State::PathStart;
            --p_;
        } else {
            return std::unexpected(INVALID_PORT);
        }
        return {};
    case State::File:
        url_.scheme = "file";
        url_.host = std::string();
        if (!eof && (c == '/' || c == '\\')) {
            state_ = State::FileSlash;
        } else if (base_ && base_->scheme == "file") {
            url_.host = base_->host;
            url_.path = base_->path;
            url_.query = base_->query;
            if (!eof && c == '?') {
                url_.query = std::string();
                state_ = State::Query;
            } else if (!eof && c == '#') {
                url_.fragment = std::string();
                state_ = State::Fragment;
            } else if (!eof) {
                url_.query.reset();
                if (!starts_with_windows_drive_letter(from_here())) {
                    shorten_path(url_);
                } else {
                    url_.path.clear();
                }
                state_ = State::Path;
                --p_;
            }
        } else {
            state_ = State::Path;
            --p_;
        }
        return {};
    case State::FileSlash:
        if (!eof && (c == '/' || c == '\\')) {
            state_ = State::FileHost;
        } else {
            if (base_ && base_->scheme == "file") {
                url_.host = base_->host;
                const std::string_view base_path = base_->path;
                const auto second = base_path.find('/', 1);
                const std::string_view first_segment =
                    base_path.empty() ? std::string_view()
                                      : base_path.substr(1, second == std::string_view::npos
                                                                ? std::string_view::npos
                                                                : second - 1);
                if (!starts_with_windows_drive_letter(from_here()) && !base_path.empty() &&
                    is_normalized_windows_drive_letter(first_segment)) {
                    append_segment(first_segment);
                }
            }
            state_ = State::Path;
            --p_;
        }
        return {};
    case State::FileHost:
        if (eof || c == '/' || c == '\\' || c == '?' || c == '#') {
            --p_;
            if (is_windows_drive_letter(buffer_)) {
                // The drive letter stays in the buffer for the path state.
                state_ = State::Path;
            } else if (buffer_.empty()) {
                url_.host = std::string();
                state_ = State::PathStart;
            } else {
                auto host = parse_host(buffer_, false);
                if (!host) {
                    return std::unexpected(host.error());
                }
                url_.host = *host == "localhost" ? std::string() : std::move(*host);
                buffer_.clear();
                state_ = State::PathStart;
            }
        } else {
            buffer_ += c;
        }
        return {};
    case State::PathStart:
        if (special()) {
            state_ = State::Path;
            if (eof || (c != '/' && c != '\\')) {
                --p_;
            }
        } else if (!eof && c == '?') {
            url_.query = std::string();
            state_ = State::Query;
        } else if (!eof && c == '#') {
            url_.fragment = std::string();
            state_ = State::Fragment;
        } else if (!eof) {
            state_ = State::Path;
            if (c != '/') {
                --p_;
            }
        }
        return {};
    case State::Path:
        if (eof || slash_like || c == '?' || c == '#') {
            const bool slash = !eof && slash_like;
            if (is_double_dot(buffer_)) {
                shorten_path(url_);
                if (!slash) {
                    append_segment("");
                }
            } else if (is_single_dot(buffer_) && !slash) {
                append_segment("");
            } else if (!is_single_dot(buffer_)) {
                if (url_.scheme == "file" && url_.path.empty() &&
                    is_windows_drive_letter(buffer_)) {
                    buffer_[1] = ':';
                }
                append_segment(buffer_);
            }
            buffer_.clear();
            if (!eof && c == '?') {
                url_.query = std::string();
                state_ = State::Query;
            } else if (!eof && c == '#') {
                url_.fragment = std::string();
                state_ = State::Fragment;
            }
        } else {
            encode(buffer_, c, EncodeSet::Path);
        }
        return {};
    case State::OpaquePath:
        if (!eof && c == '?') {
            url_.query = std::string();
            state_ = State::Query;
        } else if (!eof && c == '#') {
            url_.fragment = std::string();
            state_ = State::Fragment;
        } else if (!eof) {
            encode(url_.path, c, EncodeSet::C0Control);
        }
        return {};
    case State::Query:
        if (eof || c == '#') {
            encode(*url_.query, buffer_, special() ? EncodeSet::SpecialQuery : EncodeSet::Query);
            buffer_.clear();
            if (!eof) {
                url_.fragment = std::string();
                state_ = State::Fragment;
            }
        } else {
            buffer_ += c;
        }
        return {};
    case State::Fragment:
        if (!eof) {
            encode(*url_.fragment, c, EncodeSet::Fragment);
        }
        return {};
    }
    return {};
}

} // namespace

bool Url::is_special() const {
    return is_special_scheme(scheme);
}

std::string Url::path_and_query() const {
    std::string out = path;
    if (query) {
        out += '?';
        out += *query;
    }
    return out;
}

std::string Url::href(bool exclude_fragment) const {
    std::string out;
    out.reserve(scheme.size() + path.size() + 16 + (host ? host->size() : 0) +
                (query ? query->size() : 0) + (fragment ? fragment->size() : 0));
    out += scheme;
    out += ':';
    if (host) {
        out += "//";
        if (!username.empty() || !password.empty()) {
            out += username;
            if (!password.empty()) {
                out += ':';
                out += password;
            }
            out += '@';
        }
        out += *host;
        if (port) {
            out += ':';
            out += std::to_string(*port);
        }
    } else if (!opaque_path && path.starts_with("//")) {
        out += "/.";
    }
    out += path_and_query();
    if (fragment && !exclude_fragment) {
        out += '#';
        out += *fragment;
    }
    return out;
}

std::expected<Url, std::string_view> parse(std::string_view input, const Url* base) {
    if (!platform::is_valid_utf8(input)) {
        return std::unexpected(INVALID_UTF8);
    }
    const std::string text = preprocess(input);
    return Parser(text, base).run();
}

std::optional<std::uint16_t> default_port(std::string_view scheme) {
    if (scheme == "http" || scheme == "ws") {
        return 80;
    }
    if (scheme == "https" || scheme == "wss") {
        return 443;
    }
    if (scheme == "ftp") {
        return 21;
    }
    return std::nullopt;
}

std::string percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string form_urlencode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_alpha(c) || is_digit(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += HEX[byte >> 4];
            out += HEX[byte & 0x0F];
        }
    }
    return out;
}

} // namespace kov::url
