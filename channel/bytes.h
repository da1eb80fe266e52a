#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "zrn.h"

namespace zrn {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;
using CardHandle = ZRN_CARD_HANDLE;

inline std::uint16_t readBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline void writeBe16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

// "A0 A4 00 00" style text; used in test messages and logs.
std::string toHex(ByteView bytes, bool spaced = true);
// Accepts upper or lower case with optional spaces; returns false on any other character
// or an odd digit count.
bool fromHex(std::string_view text, Bytes& out);

}  // namespace zrn
