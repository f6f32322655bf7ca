#include "cert_tag.hpp"
#include "pe_image.hpp"

#include <climits>
#include <functional>
#include <gtest/gtest.h>

namespace {

using test::Bytes;
using test::concat;
using test::marker_then;
using test::PE_OFFSET;
using test::pe_with_table;
using test::put_u16;
using test::put_u32;
using test::TABLE_OFFSET;
using test::tag_value;

constexpr std::string_view TEXT = R"({"config_url":"https://example.test/c"})";

std::optional<std::string> find(const Bytes& image) {
    // An exactly sized copy, so that the sanitizer build sees any read past the file.
    const std::vector<std::byte> file = test::as_bytes(image);
    const auto found = kov::find_cert_tag(file);
    if (!found) {
        return std::nullopt;
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(file.data());
    const auto at = reinterpret_cast<std::uintptr_t>(found->data());
    EXPECT_TRUE(at >= begin && at + found->size() <= begin + file.size())
        << "not a view into the file";
    return std::string{*found};
}

Bytes with(Bytes image, const std::function<void(Bytes&)>& change) {
    change(image);
    return image;
}

// A table whose bytes lie before the PE headers: the file can then end right at H + 264.
Bytes table_before_headers(const Bytes& table, std::size_t cut) {
    Bytes image(64 + table.size() + 264 - cut, 0);
    const std::size_t pe = 64 + table.size();
    image[0] = 'M';
    image[1] = 'Z';
    put_u32(image, 60, static_cast<std::uint32_t>(pe));
    std::copy(table.begin(), table.end(), image.begin() + 64);
    image[pe] = 'P';
    image[pe + 1] = 'E';
    put_u16(image, pe + 4, 0x8664);
    // The directory entry still lies inside a cut file: only the header bound can refuse it.
    put_u32(image, pe + 168, 64);
    put_u32(image, pe + 172, static_cast<std::uint32_t>(table.size()));
    return image;
}

struct Case {
    const char* name;
    Bytes image;
    std::optional<std::string> expected;
};

class FindCertTag : public testing::TestWithParam<Case> {};

TEST_P(FindCertTag, FindsOnlyWellFormedTags) {
    EXPECT_EQ(find(GetParam().image), GetParam().expected);
}

const Bytes tagged = pe_with_table(tag_value(TEXT));

INSTANTIATE_TEST_SUITE_P(
    Layouts, FindCertTag,
    testing::Values(
        Case{"WellFormed", tagged, std::string{TEXT}}, Case{"EmptyFile", {}, std::nullopt},
        Case{"SixtyThreeBytes", Bytes(63, 'M'), std::nullopt},
        Case{"ZmSignature", with(tagged, [](Bytes& b) { b[0] = 'Z', b[1] = 'M'; }), std::nullopt},
        Case{"NegativeHeaderOffset",
             with(tagged, [](Bytes& b) { put_u32(b, 60, static_cast<std::uint32_t>(-8)); }),
             std::nullopt},
        Case{"MostNegativeHeaderOffset",
             with(tagged, [](Bytes& b) { put_u32(b, 60, static_cast<std::uint32_t>(INT_MIN)); }),
             std::nullopt},
        // A bound taken in 32-bit signed arithmetic would wrap here and read far past the file.
        Case{"HeaderOffsetNearTheLargest",
             with(tagged, [](Bytes& b) { put_u32(b, 60, static_cast<std::uint32_t>(INT_MAX)); }),
             std::nullopt},
        Case{"HeaderBoundPastTwoGiB",
             with(tagged,
                  [](Bytes& b) { put_u32(b, 60, static_cast<std::uint32_t>(INT_MAX - 263)); }),
             std::nullopt},
        Case{"HeadersEndTheFile", table_before_headers(tag_value(TEXT), 0), std::string{TEXT}},
        Case{"HeadersOneBytePastTheFile", table_before_headers(tag_value(TEXT), 1), std::nullopt},
        Case{"NoPeSignature", with(tagged, [](Bytes& b) { b[PE_OFFSET + 2] = 1; }), std::nullopt},
        Case{"MachineI386", with(tagged, [](Bytes& b) { put_u16(b, PE_OFFSET + 4, 0x14C); }),
             std::nullopt},
        Case{"MachineArm64", with(tagged, [](Bytes& b) { put_u16(b, PE_OFFSET + 4, 0xAA64); }),
             std::nullopt},
        Case{"Pe32MagicStillReadsTheSameEntry",
             with(tagged, [](Bytes& b) { put_u16(b, PE_OFFSET + 24, 0x10B); }), std::string{TEXT}},
        Case{"NoTableOffset", with(tagged, [](Bytes& b) { put_u32(b, PE_OFFSET + 168, 0); }),
             std::nullopt},
        // Read from offset 0, this table would hold the whole file and so the tag.
        Case{"NoTableOffsetWithTheTagInRange",
             with(tagged,
                  [](Bytes& b) {
                      put_u32(b, PE_OFFSET + 168, 0);
                      put_u32(b, PE_OFFSET + 172, static_cast<std::uint32_t>(b.size()));
                  }),
             std::nullopt},
        Case{"EmptyTable", with(tagged, [](Bytes& b) { put_u32(b, PE_OFFSET + 172, 0); }),
             std::nullopt},
        Case{"TableOneBytePastTheFile",
             with(tagged,
                  [](Bytes& b) {
                      put_u32(b, PE_OFFSET + 172,
                              static_cast<std::uint32_t>(b.size() - TABLE_OFFSET + 1));
                  }),
             std::nullopt},
        Case{"TableEndBeyondFourGiB",
             with(tagged,
                  [](Bytes& b) {
                      put_u32(b, PE_OFFSET + 168, 0xFFFFFFF0), put_u32(b, PE_OFFSET + 172, 0x20);
                  }),
             std::nullopt},
        Case{"MarkerOnlyBeforeTable",
             with(pe_with_table(Bytes(40, 0xAA)),
                  [](Bytes& b) {
                      const Bytes value = tag_value("x");
                      std::copy(value.begin(), value.end(),
                                b.begin() + 2); // in the DOS header's gap
                  }),
             std::nullopt},
        Case{"MarkerOnlyAfterTable",
             with(pe_with_table(concat({Bytes(8, 0xAA), tag_value("x")})),
                  [](Bytes& b) { put_u32(b, PE_OFFSET + 172, 8); }),
             std::nullopt},
        Case{"MarkerAcrossTableStart",
             with(pe_with_table(concat({Bytes(8, 0xAA), tag_value("x")})),
                  [](Bytes& b) {
                      put_u32(b, PE_OFFSET + 168, static_cast<std::uint32_t>(TABLE_OFFSET + 8 + 1));
                      put_u32(b, PE_OFFSET + 172,
                              static_cast<std::uint32_t>(b.size() - TABLE_OFFSET - 9));
                  }),
             std::nullopt},
        Case{"MarkerAcrossTableEnd",
             with(pe_with_table(concat({Bytes(8, 0xAA), tag_value("x")})),
                  [](Bytes& b) { put_u32(b, PE_OFFSET + 172, 8 + 7); }),
             std::nullopt},
        Case{"LaterOfTwoTags", pe_with_table(concat({tag_value("first"), tag_value("second")})),
             "second"},
        Case{"LaterMarkerMalformedHidesEarlierTag",
             pe_with_table(concat({tag_value("first"), marker_then({0x80, 'x', 0})})),
             std::nullopt},
        Case{"MarkerEndsTable", pe_with_table(marker_then({})), std::nullopt},
        Case{"Length0x80", pe_with_table(marker_then({0x80, 'x', 0})), std::nullopt},
        // Taken as a short form, 0x80 would announce exactly this 128-byte value.
        Case{"Length0x80WithA128ByteValue",
             pe_with_table(concat({marker_then({0x80}), Bytes(127, 'x'), Bytes{0}})), std::nullopt},
        Case{"Length0x83", pe_with_table(marker_then({0x83, 0, 0, 2, 'x', 0})), std::nullopt},
        Case{"Length0xFF", pe_with_table(marker_then({0xFF, 'x', 0})), std::nullopt},
        Case{"Length0x81EndsTable", pe_with_table(marker_then({0x81})), std::nullopt},
        Case{"Length0x82EndsTable", pe_with_table(marker_then({0x82})), std::nullopt},
        Case{"Length0x82OneOctetInTable", pe_with_table(marker_then({0x82, 0x00})), std::nullopt},
        Case{"LongForm0x81WithShortLength",
             pe_with_table(marker_then({0x81, 5, 'a', 'b', 'c', 'd', 0})), "abcd"},
        Case{"LongForm0x82WithShortLength",
             pe_with_table(marker_then({0x82, 0, 5, 'a', 'b', 'c', 'd', 0})), "abcd"},
        Case{"ValueEndsTableWithMoreFileAfter", pe_with_table(marker_then({3, 'a', 'b', 0}), 16),
             "ab"},
        Case{"ValueOneBytePastTable",
             with(pe_with_table(marker_then({3, 'a', 'b', 0}), 16),
                  [](Bytes& b) { put_u32(b, PE_OFFSET + 172, 14 + 1 + 2); }),
             std::nullopt},
        Case{"ZeroLength", pe_with_table(marker_then({0})), std::nullopt},
        Case{"LongForm0x82ZeroLengthEndsTable", pe_with_table(marker_then({0x82, 0, 0})),
             std::nullopt},
        Case{"LargestShortForm",
             pe_with_table(concat({marker_then({0x7F}), Bytes(126, 'x'), Bytes{0}})),
             std::string(126, 'x')},
        Case{"EmptyText", pe_with_table(marker_then({1, 0})), ""},
        Case{"NoTerminatingZero", pe_with_table(marker_then({2, 'a', 'b'})), std::nullopt},
        Case{"EarlierZero", pe_with_table(marker_then({3, 'a', 0, 0})), std::nullopt},
        Case{"LoneContinuationByte", pe_with_table(marker_then({2, 0x80, 0})), std::nullopt},
        Case{"OverlongNul", pe_with_table(marker_then({3, 0xC0, 0x80, 0})), std::nullopt},
        Case{"EncodedSurrogate", pe_with_table(marker_then({4, 0xED, 0xA0, 0x80, 0})),
             std::nullopt},
        Case{"ByteF5", pe_with_table(marker_then({2, 0xF5, 0})), std::nullopt},
        Case{"ByteFF", pe_with_table(marker_then({2, 0xFF, 0})), std::nullopt},
        Case{"SequenceCutByZero", pe_with_table(marker_then({3, 0xE2, 0x82, 0})), std::nullopt},
        Case{"ByteOrderMarkIsKept", pe_with_table(marker_then({5, 0xEF, 0xBB, 0xBF, '{', 0})),
             "\xEF\xBB\xBF{"},
        Case{"FourByteCharacter", pe_with_table(marker_then({5, 0xF0, 0x9F, 0x98, 0x80, 0})),
             "\xF0\x9F\x98\x80"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string{info.param.name}; });

TEST(FindCertTagLongest, ReturnsA65534ByteText) {
    const std::string text(65534, 'a');
    const Bytes value = tag_value(text);
    ASSERT_EQ(value[14], 0x82);
    ASSERT_EQ(value[15], 0xFF);
    ASSERT_EQ(value[16], 0xFF);
    EXPECT_EQ(find(pe_with_table(value)), text);
}

TEST(FindCertTagLongest, ValueOneBytePastTheTableYieldsNothing) {
    Bytes value = tag_value(std::string(65534, 'a'));
    value.pop_back(); // the zero byte would lie past the table's end
    EXPECT_EQ(find(pe_with_table(value)), std::nullopt);
}

} // namespace
