#include "phonebook/extended_files.h"

namespace zrn::phonebook::extended {

void setNameSlotGroups(std::uint8_t members, std::uint8_t& byte0, std::uint8_t& byte1) {
    const auto bits = static_cast<unsigned>(members) << 6;
    byte0 = static_cast<std::uint8_t>(byte0 | ((bits >> 8) & 0x3Fu));
    byte1 = static_cast<std::uint8_t>(byte1 | (bits & 0xC0u));
}

std::optional<int> firstAdiKind(std::uint8_t optionFlags) {
    if ((optionFlags & 0x10) != 0) {
        return 0;
    }
    if ((optionFlags & 0x20) != 0) {
        return 1;
    }
    return std::nullopt;
}

std::optional<int> secondAdiKind(std::uint8_t optionFlags) {
    if ((optionFlags & 0x01) != 0) {
        return 0;
    }
    if ((optionFlags & 0x02) != 0) {
        return 1;
    }
    return std::nullopt;
}

bool hasSecondAdiSearch(std::uint8_t optionFlags) {
    return (optionFlags >> 4) != (optionFlags & 0x0F);
}

}  // namespace zrn::phonebook::extended
