#pragma once

// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038 6.2.1),
// unpacked (one septet per byte, as in SIM alpha fields) and packed (as in
// short-message user data, TS 23.038 6.1.2.1).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "channel/bytes.h"

namespace zrn::cli::text {

constexpr std::uint8_t kGsmEscape = 0x1B;

// The character of a default-alphabet septet (0x00-0x7F); the escape itself maps to U+00A0.
char32_t gsmDefaultChar(std::uint8_t septet);
// The character of an extension-table septet that follows the escape, if it has one.
std::optional<char32_t> gsmExtensionChar(std::uint8_t septet);

// The septets of `c`: one for the default table, two (escape + code) for the
// extension table, none when the alphabet cannot code it.
std::optional<Bytes> gsmSeptetsOf(char32_t c);

// Unpacked septets to UTF-8. Bytes with the top bit set do not belong to the
// alphabet and come out as U+FFFD; an unknown extension code, or an escape at
// the end, is shown as the default-table character (TS 23.038 6.2.1.1).
std::string decodeGsmUnpacked(ByteView septets);

// Unpacks `septetCount` septets from packed user data, skipping `fillBits`
// leading bits (the fill after a user-data header). Stops early, without
// reading past the end, when the data is shorter than the count says.
Bytes unpackSeptets(ByteView packed, std::size_t septetCount, std::size_t fillBits = 0);
// Packs septets LSB first; `fillBits` zero bits come first.
Bytes packSeptets(ByteView septets, std::size_t fillBits = 0);

}  // namespace zrn::cli::text
