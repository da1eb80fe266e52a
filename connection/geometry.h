#pragma once

#include <cstdint>

#include "channel/card_channel.h"

namespace zrn {

// What the library knows of the attached card's phone book, read by
// ConnectReader. One record for the process; zero at load.
struct PhonebookGeometry {
    std::uint16_t phonebookDirectory = 0;  // 7F10 or 5F00 once discovered
    std::int32_t adnCount = 0;
    std::int32_t smsCount = 0;
    std::int32_t nameSlotLength = 0;
    std::int32_t numberSlotLength = 0;
    std::int32_t nameSlotCount = 0;
    std::int32_t numberSlotCount = 0;
    std::int32_t groupCount = 0;
    std::int32_t groupNameLength = 0;
    std::int32_t adiCount = 0;
    std::int32_t adiRecordLength = 0;
    std::int32_t capacity6 = 0;
    std::int32_t capacity7 = 0;
    std::uint8_t adiTypeFlags = 0;
};

PhonebookGeometry& phonebookGeometry();

// The 20-byte configuration file (EF 9000) and the 10 bytes read of the option file (EF 2F99).
constexpr std::uint8_t kConfigFileLength = 20;
constexpr std::uint8_t kOptionReadLength = 10;

// Stores the configuration file's fields into `geometry` (the others are left alone).
void applyConfigFile(const std::uint8_t (&config)[kConfigFileLength], PhonebookGeometry& geometry);

// The connection step: discovery, record counts, configuration and option files.
// Fails on any card command that fails; what was stored before stays.
bool ReadCardGeometry(channel::CardChannel& channel, PhonebookGeometry& geometry);

// The capacities text of GetConfig, zero-terminated; `text` holds at least 41 bytes.
void formatConfigText(const PhonebookGeometry& geometry, bool extendedLayout, char* text);

// The phone-book layout, from the SELECT of the configuration file 9000 on
// its path: extended when it is there, standard only when the card says the
// file or a directory on its path does not exist (94 04, 6A 82). Any other
// failure leaves the layout unknown: the card cannot be read, and guessing
// "standard" would read or overwrite the wrong phone book.
enum class Layout { kStandard, kExtended, kUnknown };
Layout probeLayout(channel::CardChannel& channel, const PhonebookGeometry& geometry);

}  // namespace zrn
