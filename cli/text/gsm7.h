#pragma once

// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038 6.2.1),
// and the national language locking and single shift tables (annex A) that a
// message's user-data header can put in their place; unpacked (one septet per
// byte, as in SIM alpha fields) and packed (as in short-message user data,
// TS 23.038 6.1.2.1). The tables are generated from gsm7-national-tables.json.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "channel/bytes.h"

namespace zrn::cli::text {

constexpr std::uint8_t kGsmEscape = 0x1B;

// National language identifiers (TS 23.038 6.2.1.2.4) run from 1 to 13; 0 is
// the default alphabet and its extension table.
constexpr int kNationalLanguageCount = 14;

// The tables septets are read with: the locking shift table in place of the
// default alphabet, and the single shift table the escape reaches.
struct Gsm7Tables {
    int locking = 0;
    int single = 0;
    bool operator==(const Gsm7Tables&) const = default;
};

// Whether a national language identifier has a table of each kind (Spanish
// has a single shift table only).
bool hasLockingShiftTable(int language);
bool hasSingleShiftTable(int language);
const char* nationalLanguageName(int language);  // "Turkish", ...; "default" for 0

// The character of a default-alphabet septet (0x00-0x7F); the escape itself maps to U+00A0.
char32_t gsmDefaultChar(std::uint8_t septet);
// The character of an extension-table septet that follows the escape, if it has one.
std::optional<char32_t> gsmExtensionChar(std::uint8_t septet);

// The septets of `c`: one for the default table, two (escape + code) for the
// extension table, none when the alphabet cannot code it.
std::optional<Bytes> gsmSeptetsOf(char32_t c, Gsm7Tables tables = {});

// Unpacked septets to UTF-8. Bytes with the top bit set do not belong to the
// alphabet, and codes a national table leaves undefined have no character:
// both come out as U+FFFD. An unknown single shift code is shown as the
// locking table's character (TS 23.038 6.2.1.1); an escape at the end as a space.
// A table the identifier does not have is the default one.
std::string decodeGsmUnpacked(ByteView septets, Gsm7Tables tables = {});

// Unpacks `septetCount` septets from packed user data, skipping `fillBits`
// leading bits (the fill after a user-data header). Stops early, without
// reading past the end, when the data is shorter than the count says.
Bytes unpackSeptets(ByteView packed, std::size_t septetCount, std::size_t fillBits = 0);
// Packs septets LSB first; `fillBits` zero bits come first.
Bytes packSeptets(ByteView septets, std::size_t fillBits = 0);

}  // namespace zrn::cli::text
