// Properties of the text codecs over many generated inputs.
#include <gtest/gtest.h>

#include <random>

#include "cli/text/alpha.h"
#include "cli/text/gsm7.h"
#include "cli/text/utf8.h"

namespace zrn::cli::text {
namespace {

// Characters from the alphabets people put on SIMs, and a few outside UCS-2.
std::u32string randomText(std::mt19937& rng, std::size_t length) {
    static const std::u32string pool =
        U"abcXYZ019 @£$_€[]{}^~\\|äöüßÉ"
        U"Иванов"
        U"中文同学"
        U"αβγΔΩ"
        U"ѿҀ"
        U"😀";
    std::u32string out;
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(pool[rng() % pool.size()]);
    }
    return out;
}

TEST(AlphaProperties, WhatIsStoredFitsAndReadsBack) {
    std::mt19937 rng(7);
    const std::vector<AlphaRoom> rooms = {{14, 6, true}, {31, 15, false}, {12, 5, true},
                                          {4, 1, true},  {60, 29, false}, {0, 0, false}};
    for (int i = 0; i < 3000; ++i) {
        const AlphaRoom& room = rooms[static_cast<std::size_t>(i) % rooms.size()];
        const std::u32string text = randomText(rng, rng() % 20);
        const std::string utf8 = encodeUtf8(text);
        const EncodedAlpha coded = encodeAlpha(utf8, room);
        SCOPED_TRACE(utf8);
        // The value fits the room in its own form.
        switch (coded.form) {
            case AlphaForm::kUcs2:
                EXPECT_LE((coded.value.size() - 1) / 2, room.ucs2Chars);
                break;
            case AlphaForm::kGsm:
            case AlphaForm::kUcs2Window81:
            case AlphaForm::kUcs2Window82:
                EXPECT_LE(coded.value.size(), room.bytes);
                break;
        }
        EXPECT_EQ(decodeAlpha(coded.value), coded.stored);
        const std::u32string stored = decodeUtf8(coded.stored);
        EXPECT_EQ(stored.size(), coded.keptChars);
        if (!coded.cut && coded.unencodable.empty()) {
            EXPECT_EQ(coded.stored, utf8) << "a text that fits comes back unchanged";
        }
        // What is kept is the beginning of the text (with '?' for what no coding holds).
        for (std::size_t c = 0; c < stored.size(); ++c) {
            EXPECT_TRUE(stored[c] == text[c] || (text[c] > 0xFFFF && stored[c] == U'?'));
        }
    }
}

TEST(AlphaProperties, TheMostCompactCodingWins) {
    // Whenever the whole text fits GSM coding, nothing longer is chosen (a
    // window form may be shorter when the text is full of two-septet '€').
    std::mt19937 rng(11);
    for (int i = 0; i < 500; ++i) {
        std::u32string text;
        for (std::size_t n = rng() % 12; n > 0; --n) {
            text.push_back(U"abc@£€Δ "[rng() % 8]);
        }
        std::size_t gsmBytes = 0;
        for (const char32_t c : text) {
            gsmBytes += gsmSeptetsOf(c)->size();
        }
        const EncodedAlpha coded = encodeAlpha(encodeUtf8(text), {40, 19, true});
        EXPECT_LE(coded.value.size(), gsmBytes) << encodeUtf8(text);
        EXPECT_NE(coded.form, AlphaForm::kUcs2);
        EXPECT_FALSE(coded.cut);
    }
}

TEST(SeptetProperties, PackingRoundTripsForEveryFill) {
    std::mt19937 rng(3);
    for (std::size_t fill = 0; fill < 7; ++fill) {
        for (int i = 0; i < 200; ++i) {
            Bytes septets(rng() % 170);
            for (auto& s : septets) {
                s = static_cast<std::uint8_t>(rng() & 0x7F);
            }
            const Bytes packed = packSeptets(septets, fill);
            EXPECT_EQ(packed.size(), (fill + septets.size() * 7 + 7) / 8);
            EXPECT_EQ(unpackSeptets(packed, septets.size(), fill), septets);
            // Asking for more septets than the data holds stops at its end.
            EXPECT_LE(unpackSeptets(packed, septets.size() + 5, fill).size(), septets.size() + 1);
        }
    }
}

}  // namespace
}  // namespace zrn::cli::text
