#include "kov/json_document.hpp"

#include "platform/text.hpp"

#include <array>
#include <bit>
#include <cstring>

namespace kov::json {
namespace {

// A word's low four bits say what it holds; the rest is its payload.
enum Tag : std::uint64_t {
    NullTag,
    FalseTag,
    TrueTag,
    SmallIntegerTag, // payload: the value, 60-bit two's complement
    WideNumberTag,   // payload: the Number::Kind; the next word: the value's bits
    ShortStringTag,  // payload: offset in the text (40 bits), then length (20 bits)
    StringTag,       // payload: length; the next word: the address of the bytes
    OwnStringTag,    // payload: index among the strings with storage of their own
    ArrayTag,        // payload: index of the word after the array's last descendant
    ObjectTag,       // payload: as for an array
};

constexpr unsigned TAG_BITS = 4;
constexpr std::uint64_t TAG_MASK = (std::uint64_t{1} << TAG_BITS) - 1;
constexpr unsigned SHORT_OFFSET_BITS = 40;
constexpr std::uint64_t SHORT_OFFSET_LIMIT = std::uint64_t{1} << SHORT_OFFSET_BITS;
constexpr std::uint64_t SHORT_LENGTH_LIMIT = std::uint64_t{1}
                                             << (64 - TAG_BITS - SHORT_OFFSET_BITS);
constexpr std::int64_t SMALL_INTEGER_LIMIT = std::int64_t{1} << (63 - TAG_BITS);

// Decoded strings up to this raw length are packed into chunks of CHUNK_BYTES; longer ones get
// storage of their own, so that a chunk wastes little at its end.
constexpr std::size_t CHUNK_BYTES = 64 * 1024;
constexpr std::size_t OWN_STRING_FROM = 4 * 1024;

Tag tag_of(std::uint64_t word) {
    return static_cast<Tag>(word & TAG_MASK);
}

std::uint64_t payload_of(std::uint64_t word) {
    return word >> TAG_BITS;
}

std::uint64_t make_word(Tag tag, std::uint64_t payload) {
    return payload << TAG_BITS | tag;
}

} // namespace

// Reads a text into a document, keeping open containers on a stack of its own.
class DocumentParser {
public:
    explicit DocumentParser(std::string_view text) : cursor_{text}, document_{text} {}

    Result<Document> run() {
        if (auto read = value_tree(); !read) {
            return std::unexpected(read.error());
        }
        document_.end_ = cursor_.offset();
        return std::move(document_);
    }

private:
    struct Open {
        std::size_t index; // of the container's word
        bool object;
    };

    Result<> value_tree() {
        for (;;) {
            // A value is due.
            const int next = cursor_.peek_token();
            switch (next) {
            case -1:
                return std::unexpected(cursor_.here(Syntax::EofWhileParsingValue));
            case 'n':
                if (auto read = literal("null", NullTag); !read) {
                    return read;
                }
                break;
            case 't':
                if (auto read = literal("true", TrueTag); !read) {
                    return read;
                }
                break;
            case 'f':
                if (auto read = literal("false", FalseTag); !read) {
                    return read;
                }
                break;
            case '"':
                cursor_.bump();
                if (auto read = string(); !read) {
                    return read;
                }
                break;
            case '-':
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
            case '8':
            case '9':
                if (auto read = number(); !read) {
                    return read;
                }
                break;
            case '[':
            case '{': {
                Result<bool> opened = open_container(next == '{');
                if (!opened) {
                    return std::unexpected(opened.error());
                }
                if (*opened) {
                    continue; // its first value is due
                }
                break; // it was empty and is closed
            }
            default:
                return std::unexpected(cursor_.after_peek(Syntax::ExpectedValue));
            }
            // After a value: close containers until a comma leads on to the next value.
            Result<bool> more = after_value();
            if (!more) {
                return std::unexpected(more.error());
            }
            if (!*more) {
                return {};
            }
        }
    }

    // Opens the container whose bracket is next. True when a value is due in it, false when
    // it was empty and has been closed.
    Result<bool> open_container(bool object) {
        if (depth_ == MAX_NESTING) {
            return std::unexpected(cursor_.after_peek(Syntax::RecursionLimitExceeded));
        }
        cursor_.bump();
        open_[depth_++] = {document_.tape_.size(), object};
        document_.tape_.push(object ? ObjectTag : ArrayTag);
        const int next = cursor_.peek_token();
        if (next == (object ? '}' : ']')) {
            close_container();
            return false;
        }
        if (next == -1) {
            return std::unexpected(
                cursor_.here(object ? Syntax::EofWhileParsingObject : Syntax::EofWhileParsingList));
        }
        if (object) {
            if (auto read = key(next); !read) {
                return std::unexpected(read.error());
            }
        }
        return true;
    }

    void close_container() {
        cursor_.bump();
        const Open& top = open_[--depth_];
        auto& word = document_.tape_[top.index];
        word = make_word(tag_of(word), document_.tape_.size());
    }

    // True when a further value is due, false when the outermost value is complete.
    Result<bool> after_value() {
        while (depth_ > 0) {
            const bool object = open_[depth_ - 1].object;
            const int next = cursor_.peek_token();
            if (next == ',') {
                cursor_.bump();
                const int after_comma = cursor_.peek_token();
                if (after_comma == (object ? '}' : ']')) {
                    return std::unexpected(cursor_.after_peek(Syntax::TrailingComma));
                }
                if (after_comma == -1) {
                    return std::unexpected(cursor_.here(Syntax::EofWhileParsingValue));
                }
                if (object) {
                    if (auto read = key(after_comma); !read) {
                        return std::unexpected(read.error());
                    }
                }
                return true;
            }
            if (next == (object ? '}' : ']')) {
                close_container();
                continue;
            }
            if (next == -1) {
                return std::unexpected(cursor_.here(object ? Syntax::EofWhileParsingObject
                                                           : Syntax::EofWhileParsingList));
            }
            return std::unexpected(cursor_.after_peek(object ? Syntax::ExpectedObjectCommaOrEnd
                                                             : Syntax::ExpectedListCommaOrEnd));
        }
        return false;
    }

    // A member's key, whose first byte `next` has been peeked, and its colon.
    Result<> key(int next) {
        if (next != '"') {
            return std::unexpected(cursor_.after_peek(Syntax::KeyMustBeAString));
        }
        cursor_.bump();
        if (auto read = string(); !read) {
            return read;
        }
        const int colon = cursor_.peek_token();
        if (colon != ':') {
            return std::unexpected(colon == -1 ? cursor_.here(Syntax::EofWhileParsingObject)
                                               : cursor_.after_peek(Syntax::ExpectedColon));
        }
        cursor_.bump();
        return {};
    }

    Result<> literal(std::string_view word, Tag tag) {
        if (auto read = cursor_.read_literal(word); !read) {
            return read;
        }
        document_.tape_.push(tag);
        return {};
    }

    Result<> number() {
        const Result<Number> read = cursor_.read_number();
        if (!read) {
            return std::unexpected(read.error());
        }
        auto& tape = document_.tape_;
        const Number& number = *read;
        if (number.kind == Number::Kind::Unsigned &&
            number.u < static_cast<std::uint64_t>(SMALL_INTEGER_LIMIT)) {
            tape.push(make_word(SmallIntegerTag, number.u));
        } else if (number.kind == Number::Kind::Signed && number.i >= -SMALL_INTEGER_LIMIT) {
            tape.push(make_word(SmallIntegerTag, static_cast<std::uint64_t>(number.i)));
        } else {
            tape.push(make_word(WideNumberTag, static_cast<std::uint64_t>(number.kind)));
            tape.push(number.kind == Number::Kind::Float    ? std::bit_cast<std::uint64_t>(number.f)
                      : number.kind == Number::Kind::Signed ? static_cast<std::uint64_t>(number.i)
                                                            : number.u);
        }
        return {};
    }

    // A string whose opening quote has been taken.
    Result<> string() {
        const std::size_t start = cursor_.offset();
        const Result<Cursor::RawString> raw = cursor_.scan_string();
        if (!raw) {
            // The scan does not pair surrogates, so a fault earlier in the string may be the
            // first one; reading it for its value finds that.
            cursor_.seek(start);
            std::string ignored;
            const Result<> read = cursor_.read_string(ignored, Utf8::Check);
            return std::unexpected(read ? raw.error() : read.error());
        }
        const std::size_t length = raw->end - raw->begin;
        if (!raw->escaped) {
            const std::string_view bytes = cursor_.text().substr(raw->begin, length);
            if (!platform::is_valid_utf8(bytes)) {
                return std::unexpected(cursor_.here(Syntax::InvalidUnicodeCodePoint));
            }
            push_text_string(raw->begin, length);
            return {};
        }
        // The decoded value is never longer than its raw bytes: storage of that size holds it.
        cursor_.seek(start);
        if (length >= OWN_STRING_FROM) {
            std::string& own = document_.own_strings_.emplace_back();
            own.reserve(length);
            if (auto read = cursor_.read_string(own, Utf8::Check); !read) {
                return read;
            }
            document_.tape_.push(make_word(OwnStringTag, document_.own_strings_.size() - 1));
            return {};
        }
        auto& chunks = document_.chunks_;
        if (chunks.empty() || chunks.back().capacity() - chunks.back().size() < length) {
            chunks.emplace_back().reserve(CHUNK_BYTES);
        }
        std::string& chunk = chunks.back();
        const std::size_t from = chunk.size();
        if (auto read = cursor_.read_string(chunk, Utf8::Check); !read) {
            return read;
        }
        push_string_at(chunk.data() + from, chunk.size() - from);
        return {};
    }

    // A string used in place: one word when it is short and not too far into the text.
    void push_text_string(std::size_t offset, std::size_t length) {
        if (offset < SHORT_OFFSET_LIMIT && length < SHORT_LENGTH_LIMIT) {
            document_.tape_.push(make_word(ShortStringTag, offset | length << SHORT_OFFSET_BITS));
            return;
        }
        push_string_at(cursor_.text().data() + offset, length);
    }

    void push_string_at(const char* bytes, std::size_t length) {
        document_.tape_.push(make_word(StringTag, length));
        document_.tape_.push(reinterpret_cast<std::uintptr_t>(bytes));
    }

    Cursor cursor_;
    Document document_;
    std::array<Open, MAX_NESTING> open_;
    std::size_t depth_ = 0;
};

Result<Document> Document::parse(std::string_view text) {
    return DocumentParser{text}.run();
}

std::size_t Document::size_of(std::size_t index) const noexcept {
    const std::uint64_t word = tape_[index];
    switch (tag_of(word)) {
    case WideNumberTag:
    case StringTag:
        return 2;
    case ArrayTag:
    case ObjectTag:
        return payload_of(word) - index;
    default:
        return 1;
    }
}

std::string_view Document::string_at(std::size_t index) const noexcept {
    const std::uint64_t word = tape_[index];
    const std::uint64_t payload = payload_of(word);
    switch (tag_of(word)) {
    case ShortStringTag:
        return text_.substr(payload & (SHORT_OFFSET_LIMIT - 1), payload >> SHORT_OFFSET_BITS);
    case StringTag:
        return {reinterpret_cast<const char*>(static_cast<std::uintptr_t>(tape_[index + 1])),
                payload};
    case OwnStringTag:
        return own_strings_[payload];
    default:
        return {};
    }
}

std::string Document::take_string(Value value) {
    const std::uint64_t word = tape_[value.index_];
    if (tag_of(word) == OwnStringTag) {
        return std::move(own_strings_[payload_of(word)]);
    }
    return std::string{string_at(value.index_)};
}

Kind Value::kind() const noexcept {
    switch (tag_of(document_->tape_[index_])) {
    case NullTag:
        return Kind::Null;
    case FalseTag:
    case TrueTag:
        return Kind::Boolean;
    case SmallIntegerTag:
    case WideNumberTag:
        return Kind::Number;
    case ShortStringTag:
    case StringTag:
    case OwnStringTag:
        return Kind::String;
    case ArrayTag:
        return Kind::Array;
    case ObjectTag:
        return Kind::Object;
    }
    return Kind::Null;
}

bool Value::boolean() const noexcept {
    return tag_of(document_->tape_[index_]) == TrueTag;
}

Number Value::number() const noexcept {
    const std::uint64_t word = document_->tape_[index_];
    Number number;
    if (tag_of(word) == SmallIntegerTag) {
        const std::int64_t value = static_cast<std::int64_t>(word) >> TAG_BITS;
        if (value < 0) {
            number.kind = Number::Kind::Signed;
            number.i = value;
        } else {
            number.kind = Number::Kind::Unsigned;
            number.u = static_cast<std::uint64_t>(value);
        }
        return number;
    }
    number.kind = static_cast<Number::Kind>(payload_of(word));
    const std::uint64_t bits = document_->tape_[index_ + 1];
    switch (number.kind) {
    case Number::Kind::Unsigned:
        number.u = bits;
        break;
    case Number::Kind::Signed:
        number.i = static_cast<std::int64_t>(bits);
        break;
    case Number::Kind::Float:
        number.f = std::bit_cast<double>(bits);
        break;
    }
    return number;
}

std::string_view Value::string() const noexcept {
    return document_->string_at(index_);
}

Elements Value::elements() const noexcept {
    return {document_, index_ + 1, payload_of(document_->tape_[index_])};
}

Members Value::members() const noexcept {
    return {document_, index_ + 1, payload_of(document_->tape_[index_])};
}

Elements::iterator& Elements::iterator::operator++() noexcept {
    index_ += document_->size_of(index_);
    return *this;
}

Member Members::iterator::operator*() const noexcept {
    return {document_->string_at(index_), Value{document_, index_ + document_->size_of(index_)}};
}

Members::iterator& Members::iterator::operator++() noexcept {
    const std::size_t value = index_ + document_->size_of(index_);
    index_ = value + document_->size_of(value);
    return *this;
}

} // namespace kov::json
