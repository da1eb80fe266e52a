#include "stream/element_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/bytes.h"

namespace zrn::stream {
namespace {

Bytes hex(const char* text) {
    Bytes out;
    EXPECT_TRUE(fromHex(text, out)) << text;
    return out;
}

// What both readers must make of one stream.
struct Vector {
    const char* name;
    Bytes bytes;
    std::vector<std::string> tags;  // the well-formed elements before any damage
    Damage damage;
    std::size_t damageOffset;
};

Bytes maximumLengthHead() {
    Bytes bytes = hex("01 4E 43 44 FF FF FF FF");
    bytes.resize(bytes.size() + 4, 0x00);
    return bytes;
}

Bytes longElement() {
    Bytes bytes = hex("01 47 52 50 00 01 00 00");  // 65536 bytes of value
    bytes.resize(bytes.size() + 0x10000, 'x');
    return bytes;
}

std::vector<Vector> vectors() {
    return {
        {"Empty", {}, {}, Damage::kNone, 0},
        {"WellFormed",
         hex("01 4E 4D 54 00 00 00 02 41 42 01 41 44 4E 00 00 00 01 31"),
         {"NMT", "ADN"},
         Damage::kNone,
         0},
        {"ZeroLengthValue",
         hex("01 47 50 49 00 00 00 00 01 4E 43 44 00 00 00 00"),
         {"GPI", "NCD"},
         Damage::kNone,
         0},
        {"LengthOver24Bits", longElement(), {"GRP"}, Damage::kNone, 0},
        {"TruncatedHead",
         hex("01 4E 4D 54 00 00 00 00 01 4E 43"),
         {"NMT"},
         Damage::kTruncatedHead,
         8},
        {"LengthPastEnd",
         hex("01 41 44 4E 00 00 00 01 31 01 4E 4D 54 00 00 00 03 41 42"),
         {"ADN"},
         Damage::kValuePastEnd,
         9},
        {"LengthByteFourPastEnd", hex("01 4E 4D 54 01 00 00 00 41"), {}, Damage::kValuePastEnd, 0},
        {"MaximumLength", maximumLengthHead(), {}, Damage::kValuePastEnd, 0},
        {"WrongMarker",
         hex("01 4E 4D 54 00 00 00 00 02 4E 4D 54 00 00 00 00"),
         {"NMT"},
         Damage::kNoMarker,
         8},
        {"LowerCaseTag", hex("01 6E 6D 74 00 00 00 00"), {}, Damage::kBadTag, 0},
    };
}

std::vector<std::string> tagsOf(const std::vector<Element>& elements) {
    std::vector<std::string> tags;
    for (const Element& element : elements) {
        tags.emplace_back(tagText(element.tag));
    }
    return tags;
}

TEST(ElementStream, LenientReaderKeepsWhatPrecedesTheDamage) {
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.name);
        const Walk walk = readLenient(v.bytes);
        EXPECT_EQ(tagsOf(walk.elements), v.tags);
        EXPECT_EQ(walk.damage, v.damage);
        if (!walk.whole()) {
            EXPECT_EQ(walk.damageOffset, v.damageOffset);
            EXPECT_EQ(walk.left, v.bytes.size() - v.damageOffset);
        }
        for (const Element& element : walk.elements) {
            EXPECT_GE(element.value.data(), v.bytes.data() + element.offset + kHeadSize);
            EXPECT_LE(element.value.data() + element.value.size(), v.bytes.data() + v.bytes.size());
        }
    }
}

TEST(ElementStream, StrictReaderTakesAWholeStreamOrNothing) {
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.name);
        const Walk walk = readStrict(v.bytes);
        EXPECT_EQ(walk.damage, v.damage);
        EXPECT_EQ(tagsOf(walk.elements),
                  v.damage == Damage::kNone ? v.tags : std::vector<std::string>{});
        if (!walk.whole()) {
            EXPECT_EQ(walk.damageOffset, v.damageOffset);
        }
    }
}

TEST(ElementStream, ValuesAndOffsetsFollowTheLengths) {
    const Bytes bytes = hex("01 4E 4D 54 00 00 00 02 41 42 01 41 44 4E 00 00 00 00");
    const Walk walk = readStrict(bytes);
    ASSERT_EQ(walk.elements.size(), 2u);
    EXPECT_EQ(toHex(walk.elements[0].value), "41 42");
    EXPECT_EQ(walk.elements[1].offset, 10u);
    EXPECT_TRUE(walk.elements[1].value.empty());
}

TEST(ElementStream, DamagedHeadIsReportedAsFound) {
    const Walk walk = readLenient(hex("01 4E 43 44 00 00 01 00 00"));
    EXPECT_EQ(walk.damage, Damage::kValuePastEnd);
    EXPECT_TRUE(walk.damagedHead.is(makeTag("NCD")));
    EXPECT_EQ(walk.damagedHead.fullLength(), 256u);
    EXPECT_EQ(walk.damagedHead.lengthByte(), 0u);
}

TEST(ElementStream, WriterAppendsHeadsThatBothReadersReadBack) {
    Bytes out;
    appendElement(out, makeTag("NMT"), hex("41 42"));
    appendHead(out, makeTag("NCD"), 0x01020304);
    EXPECT_EQ(toHex(out), "01 4E 4D 54 00 00 00 02 41 42 01 4E 43 44 01 02 03 04");
    putLength(out.data() + 10, 0);
    const Walk walk = readStrict(out);
    ASSERT_TRUE(walk.whole());
    EXPECT_EQ(tagsOf(walk.elements), (std::vector<std::string>{"NMT", "NCD"}));
}

TEST(ElementStream, SignatureNeedsMarkerTagAndZeroFirstLengthByte) {
    const Tag cms = makeTag("CMS");
    EXPECT_TRUE(signatureMatches(hex("01 43 4D 53 00").data(), cms));
    EXPECT_FALSE(signatureMatches(hex("02 43 4D 53 00").data(), cms));
    EXPECT_FALSE(signatureMatches(hex("01 4C 4D 53 00").data(), cms));
    EXPECT_FALSE(signatureMatches(hex("01 43 4D 53 01").data(), cms));
}

TEST(ElementStream, HeadFitTellsWholeFromCutFromEnd) {
    const Bytes bytes = hex("01 4E 4D 54 00 00 00 00 01");
    EXPECT_EQ(headFitAt(bytes, 0), HeadFit::kWhole);
    EXPECT_EQ(headFitAt(bytes, 1), HeadFit::kWhole);
    EXPECT_EQ(headFitAt(bytes, 2), HeadFit::kTruncated);
    EXPECT_EQ(headFitAt(bytes, 8), HeadFit::kTruncated);
    EXPECT_EQ(headFitAt(bytes, 9), HeadFit::kEnd);
    EXPECT_EQ(headFitAt(bytes, 100), HeadFit::kEnd);
}

}  // namespace
}  // namespace zrn::stream
