#pragma once

// Limits of the card commands that both layouts share.

#include <cstddef>
#include <cstdint>

namespace zrn::phonebook {

// READ/UPDATE BINARY move at most 255 bytes per command.
constexpr std::size_t kMaxCommandData = 255;
// Linear fixed records are addressed by a one-byte record number (1 to 255).
constexpr std::size_t kMaxRecords = 255;

// A geometry value as a size; a negative value, which no configuration file
// can give, counts as 0.
constexpr std::size_t asSize(std::int32_t value) {
    return value < 0 ? 0 : static_cast<std::size_t>(value);
}

// The number of whole slots of `slotLength` bytes in an image.
constexpr std::size_t wholeSlots(std::size_t imageSize, std::size_t slotLength) {
    return slotLength == 0 ? 0 : imageSize / slotLength;
}

}  // namespace zrn::phonebook
