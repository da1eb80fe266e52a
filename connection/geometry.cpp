#include "connection/geometry.h"

#include <cstdio>

#include "channel/file_map.h"

namespace zrn {

using channel::CardChannel;

PhonebookGeometry& phonebookGeometry() {
    static PhonebookGeometry geometry;
    return geometry;
}

void applyConfigFile(const std::uint8_t (&config)[kConfigFileLength], PhonebookGeometry& geometry) {
    geometry.nameSlotLength = config[0];
    geometry.numberSlotLength = config[1];
    geometry.adnCount = readBe16(&config[2]);
    geometry.nameSlotCount = readBe16(&config[4]);
    geometry.numberSlotCount = readBe16(&config[6]);
    geometry.groupCount = config[8];
    geometry.groupNameLength = config[10];
    geometry.adiCount = readBe16(&config[11]);
    geometry.adiRecordLength = config[13];
    geometry.smsCount = config[14];
    geometry.capacity6 = readBe16(&config[15]);
    geometry.capacity7 = readBe16(&config[17]);
}

namespace {

void resetCounts(PhonebookGeometry& geometry) {
    geometry.adnCount = 0;
    geometry.nameSlotCount = 0;
    geometry.numberSlotCount = 0;
    geometry.groupCount = 0;
    geometry.adiCount = 0;
    geometry.smsCount = 0;
    geometry.capacity6 = 0;
    geometry.capacity7 = 0;
}

bool readRecordCount(CardChannel& channel, const channel::CardFile& file, std::int32_t& count) {
    const auto info = channel::DescribeFile(channel, file).info;
    if (!info) {
        return false;
    }
    count = static_cast<std::int32_t>(info->recordCount());
    return true;
}

// A card that answers 90 00 with fewer bytes than asked has not given us the
// file's content; the configuration must not be filled in from nothing.
bool readExactly(CardChannel& channel, std::uint8_t* buffer, std::uint8_t length) {
    std::uint8_t received = 0;
    return channel.ReadBinary(buffer, length, 0, &received) && received == length;
}

}  // namespace

Layout probeLayout(CardChannel& channel, const PhonebookGeometry& geometry) {
    std::uint8_t responseLength = 0;
    const channel::PathSelection config = channel::SelectPath(
        channel, channel::files::kConfig, geometry.phonebookDirectory, responseLength);
    if (config) {
        return Layout::kExtended;
    }
    return config.notFound() ? Layout::kStandard : Layout::kUnknown;
}

bool ReadCardGeometry(CardChannel& channel, PhonebookGeometry& geometry) {
    if (!channel.HasCard()) {
        return false;
    }
    channel::FindPhonebookDirectory(channel, geometry.phonebookDirectory);
    resetCounts(geometry);
    if (!readRecordCount(channel, channel::files::kAdn, geometry.adnCount) ||
        !readRecordCount(channel, channel::files::kSms, geometry.smsCount)) {
        return false;
    }
    switch (probeLayout(channel, geometry)) {
        case Layout::kStandard:
            return true;
        case Layout::kUnknown:
            return false;
        case Layout::kExtended:
            break;
    }
    std::uint8_t buffer[kConfigFileLength] = {};
    if (!readExactly(channel, buffer, kConfigFileLength)) {
        return false;
    }
    applyConfigFile(buffer, geometry);
    std::uint8_t responseLength = 0;
    if (!channel::SelectOptionFile(channel, responseLength) ||
        !readExactly(channel, buffer, kOptionReadLength)) {
        return false;
    }
    geometry.adiTypeFlags = buffer[4];
    return true;
}

void formatConfigText(const PhonebookGeometry& g, bool extendedLayout, char* text) {
    const std::int32_t otherNumbers =
        extendedLayout ? g.numberSlotCount - g.adnCount : g.numberSlotCount;
    // Seven 32-bit values cannot exceed 7 x 11 + 6 characters, but the fields
    // hold 16-bit counts, so the text stays within 41 bytes; snprintf guards it anyway.
    std::snprintf(text, 41, "%d,%d,%d,%d,%d,%d,%d", g.adnCount, otherNumbers, g.smsCount,
                  g.adiCount, g.groupCount, g.capacity6, g.capacity7);
}

}  // namespace zrn
