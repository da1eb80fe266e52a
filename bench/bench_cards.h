#pragma once

// The cards the benchmarks run on: the largest phone books and message stores
// the card layouts can address, and the same cut to a half and a quarter.

#include <cstddef>
#include <string>

#include "sim/card_builder.h"
#include "sim/card_image.h"

namespace zrn::bench {

// A card at 1/4, 1/2 or the full size of its kind.
enum class CardSize { kQuarter = 1, kHalf = 2, kFull = 4 };

const char* sizeName(CardSize size);
// The factor by which `size` is larger than a quarter card (1, 2, 4).
int quarters(CardSize size);

// The extended phone book at its limits. The slot lengths are the largest the
// length fields hold (a 5-bit name length after a 4-byte slot head, a 5-bit
// number length counting the TON/NPI byte after a 4-byte head, a 6-bit ADI
// text length after a 3-byte head), eight groups of 30-byte names (their
// table must stay within 255 bytes), 255 ADI records (one-byte record
// numbers) and as many name and number slots as a file of at most 65,535
// bytes (the 16-bit size of the selection response) holds. The contacts fill
// the 40,000-byte contact area of ReadZRN most of the way: at full size
// 320 contacts spread over 1,872 name slots, with 320 general and 267 other
// numbers spread over 1,924 number slots, 255 ADI entries and group marks.
struct ExtendedLimits {
    static constexpr std::uint8_t kNameSlotLength = 35;
    static constexpr std::uint8_t kNumberSlotLength = 34;
    static constexpr std::uint8_t kAdiRecordLength = 66;
    static constexpr std::uint8_t kGroupNameLength = 30;
    static constexpr std::uint16_t kNameSlots = 1872;    // 1,872 x 35 = 65,520 bytes
    static constexpr std::uint16_t kNumberSlots = 1924;  // 1,924 x 34 = 65,416 bytes
    static constexpr std::uint16_t kAdiEntries = 255;
    static constexpr std::size_t kContacts = 320;
};

struct ExtendedCard {
    sim::ExtendedGeometry geometry;
    sim::CardImage image;
    std::size_t contacts = 0;
};
ExtendedCard buildLargestExtendedCard(CardSize size);

// A standard-layout card whose EF_ADN has 255 records (the one-byte record
// number) of 46 bytes (a 32-byte alpha field); every record but the last holds
// a contact, so that the phone book read back can be written again (the
// standard writer never fills the last record). 1/4 and 1/2 have 64 and 128
// records.
struct StandardCard {
    sim::CardImage image;
    std::size_t records = 0;
    std::size_t contacts = 0;
};
StandardCard buildLargestStandardCard(CardSize size);

// A card whose EF_SMS and extra message file each have 255 records in use,
// the extra ones indexed two thirds LMS and one third EMS. 1/4 and 1/2 have
// 64 and 128 records in each store.
struct MessageCard {
    sim::CardImage image;
    std::size_t recordsPerStore = 0;
    std::size_t lmsRecords = 0;  // extra records indexed 2 or 3
    std::size_t emsRecords = 0;  // extra records indexed 1
};
MessageCard buildLargestMessageCard(CardSize size);

}  // namespace zrn::bench
