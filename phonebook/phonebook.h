#pragma once

// ReadZRN and WriteZRN for both phone-book layouts, and the same operations
// without the host-buffer limits for tools that read any card.

#include <cstddef>
#include <cstdint>

#include "channel/bytes.h"
#include "channel/card_channel.h"
#include "library/geometry.h"

namespace zrn::phonebook {

// What ReadZRN promises the host at most: the group list and the contacts.
constexpr std::size_t kGroupListLimit = 300;
constexpr std::size_t kContactsLimit = 40000;

// A whole phone book as read from the card.
struct PhonebookStream {
    std::int32_t result = 0;  // 0; kCardError extended, kInternal standard layout: unreadable
    bool extendedLayout = false;
    Bytes groups;    // extended layout: one GRP element per group record
    Bytes contacts;  // NCD elements (extended: at least the empty NCD)
    // Contacts with content. On a standard-layout read failure, those built before it.
    std::int32_t contactCount = 0;

    // The stream as ReadZRN hands it over: the groups, then the contacts.
    Bytes joined() const;
};

// Reads the phone book of whichever layout the card has. No size limit.
PhonebookStream readPhonebookStream(channel::CardChannel& channel,
                                    const PhonebookGeometry& geometry);

// Replaces the phone book with the stream's, for whichever layout the card
// has; returns WriteZRN's result code. `count` matters in the standard layout
// only. An empty stream writes nothing.
std::int32_t writePhonebookStream(channel::CardChannel& channel, const PhonebookGeometry& geometry,
                                  std::int32_t count, ByteView stream);

// ReadZRN's steps for either layout; returns the export's result code. On
// failure length and buffer are left untouched, and so is count but after a
// standard-layout card failure (then it holds the contacts read before it).
// A phone book beyond the host's buffer (kGroupListLimit, kContactsLimit)
// fails with kCardError (extended) or kInternal (standard) and leaves all three untouched.
std::int32_t readPhonebook(channel::CardChannel& channel, const PhonebookGeometry& geometry,
                           std::int32_t& count, std::int32_t& length, std::uint8_t* buffer);

// WriteZRN's steps for either layout; the frame has already checked that the
// length is not negative and that a non-empty stream is not null.
std::int32_t writePhonebook(channel::CardChannel& channel, const PhonebookGeometry& geometry,
                            std::int32_t count, std::int32_t length, const std::uint8_t* stream);

}  // namespace zrn::phonebook
