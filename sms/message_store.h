#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "channel/card_channel.h"
#include "channel/file_map.h"
#include "sms/sms.h"

// Card access shared by the message reader and writer.
namespace zrn::sms::store {

using OpenPath = int (*)(std::uint8_t& responseLength, channel::CardChannel& channel);

// Selects a file by its path; true when every step succeeded.
bool open(OpenPath open, channel::CardChannel& channel);

// Records of a message store as its size counts them (file size / 176).
std::uint32_t recordsInFile(const channel::FileInfo& info);
// The records that a one-byte record number reaches.
std::uint32_t addressableRecords(const channel::FileInfo& info);
// The stores hold 176-byte records only.
bool hasMessageRecords(const channel::FileInfo& info);

// READ RECORD of one whole message record (0-based index); a card that
// answers with fewer bytes has not delivered the record.
bool readMessageRecord(channel::CardChannel& channel, std::uint32_t index,
                       std::uint8_t* destination);
bool updateMessageRecord(channel::CardChannel& channel, std::uint32_t index,
                         const std::uint8_t* source);

}  // namespace zrn::sms::store
