#include "bench/bench_cards.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace zrn::bench {

namespace {

using sim::NumberType;

// A fixed sequence, so that every run benchmarks the same bytes.
class Sequence {
  public:
    explicit Sequence(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::size_t below(std::size_t bound) { return next() % bound; }

  private:
    std::uint32_t state_;
};

std::string digits(Sequence& sequence, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(static_cast<char>('0' + sequence.below(10)));
    }
    return text;
}

std::string numbered(const char* prefix, std::size_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%s %04zu", prefix, n);
    return text;
}

std::size_t scaled(std::size_t full, CardSize size) {
    return full * static_cast<std::size_t>(quarters(size)) / 4;
}

// 64, 128 and 255 records: the full store is the one-byte record number's limit.
std::size_t recordsFor(CardSize size) {
    return std::min<std::size_t>(255, 64 * static_cast<std::size_t>(quarters(size)));
}

const char* const kGroupNames[8] = {
    "Family", "Friends",    "Colleagues of the first office", "Sports club", "Doctors",
    "School", "Neighbours", "Suppliers and service people",
};

// Names of 12 to 28 bytes, every seventh one in UCS-2.
void putContactName(ExtendedCard& card, std::size_t contact, std::size_t slot) {
    std::vector<int> groups;
    if (contact % 4 != 3) {
        groups.push_back(static_cast<int>(contact % 8) + 1);
    }
    if (contact % 5 == 0 && (contact / 8) % 8 != contact % 8) {
        groups.push_back(static_cast<int>((contact / 8) % 8) + 1);
    }
    std::sort(groups.begin(), groups.end());
    if (contact % 7 == 0) {
        const std::string ascii = numbered("Name", contact);
        const std::u16string wide(ascii.begin(), ascii.end());
        sim::putNameSlot(card.image, card.geometry, slot, sim::ucs2Bytes(wide), true, groups);
        return;
    }
    std::string name = numbered("Contact", contact);
    name.append(contact % 17, 'x');
    sim::putNameSlot(card.image, card.geometry, slot, sim::asciiBytes(name), false, groups);
}

}  // namespace

const char* sizeName(CardSize size) {
    switch (size) {
        case CardSize::kQuarter:
            return "1/4";
        case CardSize::kHalf:
            return "1/2";
        case CardSize::kFull:
            return "full";
    }
    return "?";
}

int quarters(CardSize size) {
    return static_cast<int>(size);
}

ExtendedCard buildLargestExtendedCard(CardSize size) {
    ExtendedCard card;
    auto& g = card.geometry;
    g.nameSlotLength = ExtendedLimits::kNameSlotLength;
    g.numberSlotLength = ExtendedLimits::kNumberSlotLength;
    g.nameSlotCount = static_cast<std::uint16_t>(scaled(ExtendedLimits::kNameSlots, size));
    g.numberSlotCount = static_cast<std::uint16_t>(scaled(ExtendedLimits::kNumberSlots, size));
    g.adnCount = static_cast<std::uint16_t>(g.numberSlotCount / 2);
    g.groupCount = 8;
    g.groupNameLength = ExtendedLimits::kGroupNameLength;
    g.adiCount = static_cast<std::uint16_t>(recordsFor(size));
    g.adiRecordLength = ExtendedLimits::kAdiRecordLength;
    g.optionFlags = 0x12;  // first ADI element kind 0, second kind 1
    card.image = sim::buildExtendedCard(g);
    card.contacts = scaled(ExtendedLimits::kContacts, size);

    for (std::size_t r = 0; r < 8; ++r) {
        sim::putGroupName(card.image, g, r + 1, sim::asciiBytes(kGroupNames[r]));
    }

    Sequence sequence(0x5A524E);
    const std::size_t contacts = card.contacts;
    const std::size_t adnRegion = g.adnCount;
    const std::size_t otherRegion = g.numberSlotCount - g.adnCount;
    for (std::size_t k = 0; k < contacts; ++k) {
        const std::size_t nameSlot = 1 + k * g.nameSlotCount / contacts;
        const auto index = static_cast<std::uint16_t>(nameSlot);
        putContactName(card, k, nameSlot);
        sim::putNumberSlot(card.image, g, k * adnRegion / contacts, index, NumberType::kAdn,
                           "13" + digits(sequence, 9));
        const std::size_t other = adnRegion + k * otherRegion / contacts;
        if (k % 2 == 0) {
            sim::putNumberSlot(card.image, g, other, index, NumberType::kMbl,
                               "15" + digits(sequence, 9));
        }
        if (k % 3 == 0) {
            sim::putNumberSlot(card.image, g, other + 1, index, NumberType::kHme,
                               digits(sequence, 8));
        }
    }
    for (std::size_t e = 0; e < g.adiCount; ++e) {
        const std::size_t k = e * contacts / g.adiCount;
        const auto index = static_cast<std::uint16_t>(1 + k * g.nameSlotCount / contacts);
        std::string note = numbered("note", e);
        note.append(e % 13, '.');
        sim::putAdiEntry(card.image, g, e, index, static_cast<int>(e % 2), false,
                         sim::asciiBytes(note));
    }
    return card;
}

StandardCard buildLargestStandardCard(CardSize size) {
    StandardCard card;
    card.records = recordsFor(size);
    sim::StandardCardOptions options;
    options.adnCount = card.records;
    options.adnRecordLength = 46;
    options.smsCount = 10;
    card.image = sim::buildStandardCard(options);
    card.contacts = card.records - 1;

    Sequence sequence(0x414E44);
    for (std::size_t r = 1; r <= card.contacts; ++r) {
        std::string name = numbered("Person", r);
        name.append(r % 21, 'y');  // 11 to 31 bytes of the 32-byte alpha field
        sim::putAdnRecord(card.image, r, sim::asciiBytes(name),
                          digits(sequence, 10 + r % 11));  // 10 to 20 digits
    }
    return card;
}

MessageCard buildLargestMessageCard(CardSize size) {
    MessageCard card;
    card.recordsPerStore = recordsFor(size);
    sim::StandardCardOptions options;
    options.adnCount = 10;
    options.smsCount = card.recordsPerStore;
    options.extraMessageCount = card.recordsPerStore;
    options.extraMessageIndex = true;
    card.image = sim::buildStandardCard(options);

    Sequence sequence(0x534D53);
    auto body = [&sequence] {
        Bytes bytes(20 + sequence.below(150));
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(sequence.next());
        }
        return bytes;
    };
    const std::uint8_t statuses[] = {0x01, 0x03, 0x05, 0x07};  // read, unread, sent, to send
    for (std::size_t r = 1; r <= card.recordsPerStore; ++r) {
        sim::putSmsRecord(card.image, r, statuses[r % 4], body());
        sim::putExtraMessage(card.image, r, statuses[(r + 1) % 4], body());
        const std::uint8_t index = r % 3 == 0 ? 1 : (r % 9 == 1 ? 3 : 2);
        sim::setExtraIndex(card.image, r, index);
        ++(index == 1 ? card.emsRecords : card.lmsRecords);
    }
    return card;
}

}  // namespace zrn::bench
