#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "channel/bytes.h"
#include "channel/card_channel.h"

namespace zrn::sms {

// Every message store holds whole GSM 11.11 EF_SMS records: status byte first.
constexpr std::size_t kRecordLength = 176;
// Records are addressed with a one-byte record number in absolute mode.
constexpr std::uint32_t kMaxAddressableRecords = 255;
// EF_SMS plus the extra message file; each record is returned at most once.
constexpr std::size_t kMaxStoredMessages = 2 * kMaxAddressableRecords;

// The store a message comes from or goes to, named by its element tag.
enum class MessageKind : std::uint8_t {
    kCms = 1,  // EF_SMS 6F3C
    kLms = 2,  // extra message file 1F3C, index value 2 (or 3 when read)
    kEms = 3,  // extra message file 1F3C, index value 1
};

using Record = std::array<std::uint8_t, kRecordLength>;

// One message as a whole card record.
struct MessageRecord {
    MessageKind kind = MessageKind::kCms;
    Record bytes{};

    // GSM 11.11 10.5.3: 0 marks a free record.
    std::uint8_t status() const { return bytes[0]; }
    bool operator==(const MessageRecord&) const = default;
};

// ReadSMS's steps; returns the export's result code (outcomes already translated).
std::int32_t readMessages(channel::CardChannel& channel, std::int32_t& count, std::int32_t& length,
                          std::uint8_t* buffer);

// WriteSMS's steps; the frame has already refused negative counts and lengths
// and a null non-empty stream.
std::int32_t writeMessages(channel::CardChannel& channel, std::int32_t count, std::int32_t length,
                           const std::uint8_t* stream);

// A message store as a tool read it: its selection response's size and
// record length, and its bytes (records one after the other).
struct StoreImage {
    bool present = false;
    std::uint16_t size = 0;
    std::uint8_t recordLength = 0;
    Bytes data;
};
struct StoreImages {
    StoreImage sms;    // EF_SMS
    StoreImage extra;  // the extra message file
    StoreImage index;  // its index
};
// WriteSMS's checks and records applied to `images` instead of a card: on 0
// they hold what WriteSMS would leave on a card that holds them; otherwise
// the result code WriteSMS gives, and `images` may be partly changed.
std::int32_t writeMessageImages(StoreImages& images, std::int32_t count, ByteView stream);

// The same steps without a host buffer, for tools. Reading fills `messages`
// in stream order (EF_SMS, then LMS, then EMS) only when the result is 0.
std::int32_t readMessageRecords(channel::CardChannel& channel,
                                std::vector<MessageRecord>& messages);
// Stores `messages` exactly as WriteSMS stores their element stream.
std::int32_t writeMessageRecords(channel::CardChannel& channel,
                                 const std::vector<MessageRecord>& messages);

// The element stream of `messages`, 360 bytes each.
Bytes encodeMessageStream(const std::vector<MessageRecord>& messages);
// Parses a stream of whole elements (length a multiple of 360, known tags,
// upper-case hex text); nullopt when any element is malformed.
std::optional<std::vector<MessageRecord>> decodeMessageStream(ByteView stream);

// "CMS", "LMS" or "EMS".
const char* tagOf(MessageKind kind);

}  // namespace zrn::sms
