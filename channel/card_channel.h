#pragma once

#include <cstdint>

#include "channel/apdu.h"
#include "channel/bytes.h"

namespace zrn::channel {

// The library's only road to the card: the host's PC/SC handle and one
// operation per GSM 11.11 command. It knows nothing of files or layouts.
// Every command reports success as a boolean; status words and PC/SC errors
// are not kept.
class CardChannel {
  public:
    static constexpr std::uint32_t kReceiveBufferSize = 260;

    CardChannel() = default;
    CardChannel(const CardChannel&) = delete;
    CardChannel& operator=(const CardChannel&) = delete;
    virtual ~CardChannel();

    void SetCardHandle(CardHandle handle) { handle_ = handle; }
    bool HasCard() const { return handle_ != 0; }
    CardHandle handle() const { return handle_; }

    bool Transmit(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
                  std::uint32_t* responseLength);

    // Succeeds on SW1 = 9F only; then SW2 (the response length) goes to responseLength.
    bool SelectFile(std::uint16_t fileId, std::uint8_t& responseLength);
    // The reading commands copy at most `length` data bytes; `dataLength`, when
    // given, receives how many the card actually returned.
    bool ReadBinary(std::uint8_t* destination, std::uint8_t length, std::uint16_t offset,
                    std::uint8_t* dataLength = nullptr);
    bool UpdateBinary(const std::uint8_t* source, std::uint8_t length, std::uint16_t offset);
    bool ReadRecord(std::uint8_t recordIndex, std::uint8_t* destination, std::uint8_t length,
                    std::uint8_t* dataLength = nullptr);
    bool UpdateRecord(std::uint8_t recordIndex, const std::uint8_t* source, std::uint8_t length);
    bool GetResponse(std::uint8_t* destination, std::uint8_t length,
                     std::uint8_t* dataLength = nullptr);

  private:
    struct Answer {
        bool ok = false;
        std::uint8_t sw1 = 0;
        std::uint8_t sw2 = 0;
        std::uint8_t copied = 0;
    };
    // Sends the command; the answer is ok when the exchange succeeded and at
    // least the two status bytes came back. Data bytes, if any, are copied to
    // destination, never more than `capacity`.
    Answer exchange(const Apdu& apdu, std::uint8_t* destination, std::uint8_t capacity);
    bool exchangeExpectingOk(const Apdu& apdu, std::uint8_t* destination, std::uint8_t capacity,
                             std::uint8_t* dataLength = nullptr);

    CardHandle handle_ = 0;
};

// The one channel of the process.
CardChannel& cardChannel();

}  // namespace zrn::channel
