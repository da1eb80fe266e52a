#pragma once

// The extended phone book: name, number, ADI and group files under the
// phone-book directory, with capacities from the configuration file.

#include <cstdint>
#include <vector>

#include "channel/bytes.h"
#include "channel/card_channel.h"
#include "connection/geometry.h"
#include "phonebook/element_stream.h"

namespace zrn::phonebook {

// Card-file images of one call.
struct ExtendedImages {
    Bytes names;    // the name file, whole
    Bytes numbers;  // the number file, whole
    Bytes adi;      // one entry of adiRecordLength bytes per ADI record
};

// ---- Reading ---------------------------------------------------------------

struct ExtendedRead {
    std::int32_t result = 0;  // 0, or 2 when a card file cannot be read
    Bytes groups;             // the GRP elements, one per group record
    Bytes contacts;           // the NCD elements
    std::int32_t contactCount = 0;
};

// The whole extended phone book, without any limit on its size.
ExtendedRead readExtendedPhonebook(channel::CardChannel& channel,
                                   const PhonebookGeometry& geometry);

// The reading steps, each failing on the first card command that fails.
bool ReadGroupList(channel::CardChannel& channel, const PhonebookGeometry& geometry,
                   Bytes& groupList);
bool LoadNameFile(channel::CardChannel& channel, const PhonebookGeometry& geometry, Bytes& image);
bool LoadNumberFile(channel::CardChannel& channel, const PhonebookGeometry& geometry, Bytes& image);
bool LoadAdiFile(channel::CardChannel& channel, const PhonebookGeometry& geometry, Bytes& image);

// One GRP element from a group record of which `received` bytes came back.
void AppendGroupElement(StreamBuilder& out, const std::uint8_t* record, std::size_t received);

// The images into NCD elements; returns the contact count. Cannot fail: every
// length found in the images is bounded by its slot and its image. When
// `numberSlots` is given it receives, for every number element in stream
// order, the number slot it was read from.
std::int32_t BuildExtendedContacts(const PhonebookGeometry& geometry, const ExtendedImages& images,
                                   Bytes& contacts,
                                   std::vector<std::size_t>* numberSlots = nullptr);

// ---- Writing ---------------------------------------------------------------

// The group names taken from the stream, in the order they go to the group
// records (entry k to record k + 1).
using GroupTable = std::vector<Bytes>;

// Takes the leading run of GRP elements; returns where the contacts begin, or
// result::kNotAContact in `refusal` when a GRP element runs past the stream.
std::size_t CollectGroups(ByteView stream, const PhonebookGeometry& geometry, GroupTable& groups,
                          std::int32_t& refusal);

// Parses the contacts into images that the caller has made, all 0x00, of the
// card's file sizes (the ADI image adiCount x adiRecordLength). Returns 0 or
// the result code of the first refused element; nothing touches the card.
// When `numberSlots` is given it receives, for every number element taken in
// stream order, the number slot it went to.
std::int32_t BuildPhonebookImages(ByteView contacts, const PhonebookGeometry& geometry,
                                  ExtendedImages& images,
                                  std::vector<std::size_t>* numberSlots = nullptr);

// The length of the group records the writer sends: the configuration's
// group name length plus one, at most 255.
std::size_t GroupRecordLength(const PhonebookGeometry& geometry);
// A group record of `recordLength` bytes as the writer stores it: the name
// length, the name (cut to the record), FF after it. An empty name gives the
// cleared record.
Bytes GroupRecordBytes(ByteView name, std::size_t recordLength);

// WriteZRN on an extended-layout card (the layout test already made).
std::int32_t writeExtendedPhonebook(channel::CardChannel& channel,
                                    const PhonebookGeometry& geometry, ByteView stream);

}  // namespace zrn::phonebook
