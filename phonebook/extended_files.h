#pragma once

// Byte layouts of the extended phone-book files under the phone-book
// directory: name slots (6F04), number slots (6F06), ADI entries (6F08) and
// group records (6F0C). Shared by the reader and the writer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "connection/geometry.h"
#include "phonebook/card_files.h"
#include "phonebook/element_stream.h"
#include "results/result_codes.h"

namespace zrn::phonebook::extended {

// Name slot: byte 0 groups 3-8 (bits 0-5), byte 1 name length (bits 0-4),
// UCS-2 flag, groups 1 and 2; bytes 2-3 unused; the name from byte 4.
constexpr std::size_t kNameTextOffset = 4;
constexpr std::uint8_t kNameLengthMask = 0x1F;
constexpr std::uint8_t kNameUcs2Flag = 0x20;
constexpr std::uint8_t kFreeNameByte = 0xFF;
constexpr std::uint8_t kPlaceholderName = 0x20;  // one space: a contact without a name

// A name slot that holds no contact: length byte FF (never written) or a
// zero name length.
constexpr bool isFreeNameSlot(const std::uint8_t* slot) {
    return slot[1] == kFreeNameByte || (slot[1] & kNameLengthMask) == 0;
}

// Number slots and ADI entries name their contact (its name slot, from 1)
// big-endian in their first two bytes.
constexpr std::size_t kContactIndexLength = 2;

// Number slot: contact index (big-endian), type code (bits 5-7) and BCD byte
// count plus one (bits 0-4), TON/NPI, the BCD bytes from byte 4.
constexpr std::size_t kNumberTypeByte = 2;
constexpr std::size_t kNumberTonNpiByte = 3;
constexpr std::size_t kNumberBcdOffset = 4;
constexpr std::uint8_t kNumberLengthMask = 0x1F;
constexpr std::uint8_t kTonNpiInternationalIsdn = 0x81;

// ADI entry: contact index, text length (bits 0-5), UCS-2 flag (bit 6),
// kind (bit 7), the text from byte 3.
constexpr std::size_t kAdiHeadByte = 2;
constexpr std::size_t kAdiTextOffset = 3;
constexpr std::uint8_t kAdiLengthMask = 0x3F;
constexpr std::uint8_t kAdiUcs2Flag = 0x40;
constexpr std::uint8_t kAdiKindFlag = 0x80;

// The five number kinds in stream order, with their type codes, their region
// of the number file and the write refusal for a bad element.
struct NumberKind {
    Tag tag;
    std::uint8_t typeCode;
    bool adnRegion;
    std::int32_t refusal;
};
constexpr std::array<NumberKind, 5> kNumberKinds{{
    {tag::kAdn, 4, true, result::kBadAdn},
    {tag::kMbl, 1, false, result::kBadMbl},
    {tag::kHme, 2, false, result::kBadHme},
    {tag::kOfe, 3, false, result::kBadOfe},
    {tag::kOtr, 5, false, result::kBadOtr},
}};

// The type code of byte 2 of a number slot.
constexpr std::uint8_t typeCodeOf(std::uint8_t typeByte) {
    return static_cast<std::uint8_t>(typeByte >> 5);
}

// Membership bits (bit d - 1 for group d) from name slot bytes 0 and 1.
constexpr std::uint8_t groupsOfNameSlot(std::uint8_t byte0, std::uint8_t byte1) {
    return static_cast<std::uint8_t>(((byte0 << 8) | byte1) >> 6);
}
// Puts membership bits into name slot bytes 0 and 1 (bits 6-7 of byte 0 stay 0).
void setNameSlotGroups(std::uint8_t members, std::uint8_t& byte0, std::uint8_t& byte1);

// ADI kinds by the option flags: the reader looks for the first kind first,
// then (unless both nibbles of the flags are equal) for the second.
std::optional<int> firstAdiKind(std::uint8_t optionFlags);
std::optional<int> secondAdiKind(std::uint8_t optionFlags);
bool hasSecondAdiSearch(std::uint8_t optionFlags);

}  // namespace zrn::phonebook::extended
