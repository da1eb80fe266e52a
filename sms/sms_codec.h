#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "channel/bytes.h"
#include "channel/card_channel.h"
#include "sms/sms.h"
#include "stream/element_stream.h"

namespace zrn::sms {

// SMS element: marker, three-letter tag, 4-byte big-endian value length, and
// the record's bytes as 352 hex characters.
constexpr std::uint8_t kElementMarker = stream::kMarker;
constexpr std::size_t kHeadLength = stream::kHeadSize;
constexpr std::size_t kHexTextLength = 2 * kRecordLength;
constexpr std::size_t kElementLength = kHeadLength + kHexTextLength;
// A head is recognised by the marker, the tag and a zero first length byte.
constexpr std::size_t kHeadSignatureLength = stream::kLengthOffset + 1;

// Incoming working buffers: one element, its value text, one record, each
// with one spare byte.
using UnitBuffer = std::array<std::uint8_t, kElementLength + 1>;
using PayloadBuffer = std::array<std::uint8_t, kHexTextLength + 1>;
using RecordBuffer = std::array<std::uint8_t, kRecordLength + 1>;

// Internal results of the short-message steps.
namespace outcome {
constexpr int kOk = 1;
constexpr int kNoIndex = 2;              // reading only: the index cannot be selected
constexpr int kBadStream = 10001;        // an element to store carries no hex text
constexpr int kNoRoom = 10002;           // more messages than a store holds, or no such store
constexpr int kExtraReadFailed = 10003;  // the extra message file cannot be read
constexpr int kNoMemory = 10004;
constexpr int kResponseFailed = 10005;     // a store's selection or GET RESPONSE failed
constexpr int kMessageReadFailed = 10006;  // EF_SMS cannot be read
constexpr int kWriteFailed = 10007;        // READ/UPDATE BINARY of the index, UPDATE RECORD
constexpr int kExtraFileLost = 10008;      // the extra message file vanished between checks
}  // namespace outcome

// The export result for an outcome.
std::int32_t translateOutcome(int outcome);

// Whether the five bytes at `offset` are the head of an element of `kind`;
// false when fewer than five bytes are left.
bool isHeadAt(ByteView stream, std::size_t offset, MessageKind kind);
// Upper-case hex digits only.
bool isHexText(ByteView text);

// The per-call object of ReadSMS and WriteSMS. It carries nothing from one
// call to the next: the working state lives in locals and in the counters the
// caller passes.
class SmsCodec {
  public:
    SmsCodec() = default;
    SmsCodec(const SmsCodec&) = delete;
    SmsCodec& operator=(const SmsCodec&) = delete;
    virtual ~SmsCodec();

    // Writes the 8 head bytes at `position` and advances it.
    static int PutSmsHead(std::int32_t& position, std::uint8_t* output, MessageKind kind);
    // Writes 2 x recordLength upper-case hex characters at `position`, high
    // nibble first, and advances it. No terminator.
    static int PutHexRecord(std::size_t recordLength, const std::uint8_t* record,
                            std::uint8_t* output, std::int32_t& position);
    // Fills `payload` with FF and copies the unit's value (bytes 8 to
    // unitLength) to its start; unitLength is kept within the unit buffer.
    static int TakeUnitPayload(std::int32_t& unitLength, const UnitBuffer& unit,
                               PayloadBuffer& payload);
    // Decodes pairs of characters into bytes, as many as both sides hold.
    static int HexToBytes(ByteView text, std::span<std::uint8_t> bytes);
    // "0"-"9", "A"-"F" and "a"-"f" are hex digits; any other character
    // counts with its own code.
    static std::uint8_t HexPairToByte(std::uint8_t high, std::uint8_t low);

    // Reading: EF_SMS as CMS elements, then the extra message file sorted by
    // its index into LMS and EMS elements. `count` and `position` are the
    // caller's element and byte counters; `output` is not bounded here.
    int ReadMessages(std::int32_t& count, std::int32_t& position, std::uint8_t* output,
                     channel::CardChannel& channel);
    int ReadIndexedExtra(std::int32_t& count, std::int32_t& position, std::uint8_t* output,
                         channel::CardChannel& channel);
    int ReadUnindexedExtra(std::int32_t& count, std::int32_t& position, std::uint8_t* output,
                           channel::CardChannel& channel);

    // Writing: checks the stream against the stores, then writes CMS, LMS and
    // EMS records and rewrites the index.
    int WriteMessages(std::int32_t count, std::int32_t length, const std::uint8_t* stream,
                      channel::CardChannel& channel);
    // The same checks and records over the stores' images: what
    // WriteMessages leaves on a card that holds them, nothing sent.
    int WriteMessageImages(std::int32_t count, ByteView stream, StoreImages& images);

  private:
    // Appends one complete element for `record`.
    static void appendElement(std::int32_t& position, std::uint8_t* output, MessageKind kind,
                              const std::uint8_t* record);
};

}  // namespace zrn::sms
