#pragma once

// The standard phone book: EF_ADN (GSM 11.11 10.5.1), one name and one number
// per record.

#include <cstdint>
#include <vector>

#include "channel/bytes.h"
#include "channel/card_channel.h"

namespace zrn::phonebook {

// An EF_ADN record: the alpha field, then 14 bytes of number length, TON/NPI,
// ten BCD bytes, capability and extension identifiers.
constexpr std::size_t kAdnTrailerLength = 14;
constexpr std::size_t kAdnBcdBytes = 10;
constexpr std::size_t kAdnMaxDigits = 2 * kAdnBcdBytes;

struct StandardRead {
    std::int32_t result = 0;  // 0, or result::kInternal when EF_ADN cannot be read
    Bytes contacts;           // the NCD elements
    // The contacts built; on failure those built before it.
    std::int32_t contactCount = 0;
};

// The whole standard phone book, without any limit on its size.
StandardRead readStandardPhonebook(channel::CardChannel& channel);

// Every used EF_ADN record into one NCD element. Fails on a card command that
// fails or a record length that cannot hold an EF_ADN record.
bool BuildStandardContacts(channel::CardChannel& channel, std::int32_t& count, Bytes& contacts);

// The same from records already read, `records` holding them one after the
// other; returns the contact count. When `recordOfContact` is given it
// receives, for every contact in stream order, its record index (from 0).
std::int32_t BuildStandardContactsFromRecords(ByteView records, std::size_t recordLength,
                                              Bytes& contacts,
                                              std::vector<std::size_t>* recordOfContact = nullptr);

// The records a stream makes, checked whole before any record is touched:
// `records` receives one record of `recordLength` bytes per NCD taken, in
// order. Returns 0 or the refusal (kNotAContact, kTooManyContacts, kBadAdn,
// kContactNotClosed).
std::int32_t planStandardRecords(ByteView stream, std::int32_t contactCount,
                                 std::size_t recordLength, std::size_t recordCount,
                                 std::vector<Bytes>& records);

// WriteZRN on a standard-layout card (the layout test already made): clears
// every record, then writes the stream's contacts from record 1 on.
std::int32_t WriteStandardPhonebook(channel::CardChannel& channel, ByteView stream,
                                    std::int32_t contactCount);

}  // namespace zrn::phonebook
