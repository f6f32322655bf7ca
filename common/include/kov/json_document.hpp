#pragma once

// A JSON text read whole into a tree that keeps every value: object members in their order,
// repeated keys each as a member of its own. The tree is a tape of 8-byte words in document
// order, a container's word pointing past its last descendant, so that a value is a position
// and skipping one is a jump. Strings without escapes stay where they are in the text; the
// others are decoded into storage of the document's own.

#include "kov/json_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kov::json {

// Arrays and objects nested in one another, the outermost counted; one more is refused.
inline constexpr std::size_t MAX_NESTING = 127;

enum class Kind : std::uint8_t { Null, Boolean, Number, String, Array, Object };

class Document;
class Elements;
class Members;

// A value of a document, valid while the document lives.
class Value {
public:
    Kind kind() const noexcept;
    // Each of these asks a value of the matching kind.
    bool boolean() const noexcept;
    Number number() const noexcept;
    std::string_view string() const noexcept;
    Elements elements() const noexcept;
    Members members() const noexcept;

private:
    friend class Document;
    friend class Elements;
    friend class Members;
    Value(const Document* document, std::size_t index) : document_{document}, index_{index} {}
    const Document* document_;
    std::size_t index_; // of the value's first word on the tape
};

struct Member {
    std::string_view key;
    Value value;
};

// The elements of an array, in order.
class Elements {
public:
    class iterator {
    public:
        Value operator*() const noexcept { return {document_, index_}; }
        iterator& operator++() noexcept;
        bool operator==(const iterator&) const = default;

    private:
        friend class Elements;
        iterator(const Document* document, std::size_t index)
            : document_{document}, index_{index} {}
        const Document* document_;
        std::size_t index_;
    };
    iterator begin() const noexcept { return {document_, first_}; }
    iterator end() const noexcept { return {document_, end_}; }

private:
    friend class Value;
    Elements(const Document* document, std::size_t first, std::size_t end)
        : document_{document}, first_{first}, end_{end} {}
    const Document* document_;
    std::size_t first_;
    std::size_t end_;
};

// The members of an object, in order, repeated keys included.
class Members {
public:
    class iterator {
    public:
        Member operator*() const noexcept;
        iterator& operator++() noexcept;
        bool operator==(const iterator&) const = default;

    private:
        friend class Members;
        iterator(const Document* document, std::size_t index)
            : document_{document}, index_{index} {}
        const Document* document_;
        std::size_t index_; // of the member's key
    };
    iterator begin() const noexcept { return {document_, first_}; }
    iterator end() const noexcept { return {document_, end_}; }

private:
    friend class Value;
    Members(const Document* document, std::size_t first, std::size_t end)
        : document_{document}, first_{first}, end_{end} {}
    const Document* document_;
    std::size_t first_;
    std::size_t end_;
};

class Document {
public:
    // Reads the first value of `text`, after optional whitespace, and stops after it; what
    // follows is the caller's to judge from end(). Strings must be UTF-8. The document may
    // point into `text`, which must outlive it.
    static Result<Document> parse(std::string_view text);

    Value root() const noexcept { return {this, 0}; }
    // The offset in the text just past the value.
    std::size_t end() const noexcept { return end_; }

    // Moves a string value out of the document; the value must not be read again. A string
    // with storage of its own is handed over without a copy.
    std::string take_string(Value value);

private:
    friend class Value;
    friend class Elements;
    friend class Members;
    friend class DocumentParser;

    // The words in fixed-size blocks: growing never moves what is written, so the tape never
    // needs twice its size while it grows.
    class Tape {
    public:
        static constexpr std::size_t BLOCK_BITS = 12;
        static constexpr std::size_t BLOCK_WORDS = std::size_t{1} << BLOCK_BITS;

        std::size_t size() const noexcept { return size_; }
        std::uint64_t operator[](std::size_t index) const noexcept {
            return blocks_[index >> BLOCK_BITS][index & (BLOCK_WORDS - 1)];
        }
        std::uint64_t& operator[](std::size_t index) noexcept {
            return blocks_[index >> BLOCK_BITS][index & (BLOCK_WORDS - 1)];
        }
        void push(std::uint64_t word) {
            if ((size_ & (BLOCK_WORDS - 1)) == 0) {
                blocks_.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(BLOCK_WORDS));
            }
            (*this)[size_++] = word;
        }

    private:
        std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;
        std::size_t size_ = 0;
    };

    explicit Document(std::string_view text) : text_{text} {}

    std::size_t size_of(std::size_t index) const noexcept; // words of the value at index
    std::string_view string_at(std::size_t index) const noexcept;

    std::string_view text_;
    Tape tape_;
    // Decoded short strings, packed; a chunk is never filled past what it reserved, so its
    // bytes stay where they are.
    std::deque<std::string> chunks_;
    // Decoded long strings, each in storage of its own.
    std::vector<std::string> own_strings_;
    std::size_t end_ = 0;
};

} // namespace kov::json
