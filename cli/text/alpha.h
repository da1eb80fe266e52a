#pragma once

// SIM alpha coding (GSM 11.11 Annex B): names, free-text entries and group
// names as the card stores them. A value is either GSM default-alphabet
// septets (one per byte) or one of the UCS-2 forms:
//   0x80, then big-endian UCS-2 characters;
//   0x81, character count, base bits 15-8 (base = byte << 7), then one byte per
//         character: below 0x80 a default-alphabet septet, else base + (byte & 0x7F);
//   0x82, character count, 16-bit base, then characters as for 0x81.
// The phone-book stream marks UCS-2 text with the same 0x80 byte, so one
// decoder serves both layouts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/bytes.h"

namespace zrn::cli::text {

enum class AlphaForm { kGsm, kUcs2, kUcs2Window81, kUcs2Window82 };

const char* alphaFormName(AlphaForm form);

// Decodes a stored value to UTF-8. Readers of fixed-size fields drop trailing
// 0xFF padding; bytes that a UCS-2 form needs but the value lacks are taken as
// that dropped 0xFF, so a character ending in 0xFF survives. Never fails: what
// cannot be decoded becomes U+FFFD.
std::string decodeAlpha(ByteView value);
AlphaForm alphaFormOf(ByteView value);

// Big-endian UCS-2 (surrogate pairs joined, as some phones send UTF-16) to
// UTF-8; an odd last byte is ignored. `stopAtUnused`: FFFF ends the text.
std::string decodeUcs2Text(ByteView bytes, bool stopAtUnused);

// How much a field can hold.
struct AlphaRoom {
    std::size_t bytes = 0;      // the stored bytes for GSM text and the 0x81/0x82 forms
    std::size_t ucs2Chars = 0;  // characters of the 0x80 form
    bool windows = false;       // the 0x81 and 0x82 forms may be used
};

struct EncodedAlpha {
    Bytes value;  // the element value: GSM bytes, or 0x8x and the form's bytes
    AlphaForm form = AlphaForm::kGsm;
    std::string stored;  // what the card will show, as UTF-8
    bool cut = false;    // characters had to be dropped at the end
    std::size_t keptChars = 0;
    std::size_t totalChars = 0;
    std::u32string unencodable;  // characters no coding can hold (outside UCS-2)
};

// The most compact coding the room allows that holds the whole text; when none
// does, the one that keeps the most characters (and reports the cut).
// Characters outside the Basic Multilingual Plane cannot be coded; they are
// replaced with '?' and listed.
EncodedAlpha encodeAlpha(std::string_view utf8, const AlphaRoom& room);

}  // namespace zrn::cli::text
