#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "channel/bytes.h"
#include "channel/status_word.h"

namespace zrn::channel {

// How one exchange ended, without its data: the card's status word, or the
// PC/SC error when no answer came back.
class Status {
  public:
    // The exchange itself failed (a PC/SC error, or 0 with fewer than two bytes back).
    static Status transportFailure(long pcscError) { return Status({}, pcscError, false); }
    static Status fromCard(StatusWord sw) { return Status(sw, 0, true); }

    // The card answered with a status word; false for a transport failure.
    bool delivered() const { return delivered_; }
    long pcscError() const { return pcscError_; }
    // Meaningful only when delivered.
    StatusWord sw() const { return sw_; }
    StatusCategory category() const {
        return delivered_ ? sw_.category() : StatusCategory::kTransportFailure;
    }
    bool isOk() const { return delivered_ && sw_ == kStatusOk; }
    bool notFound() const { return category() == StatusCategory::kNotFound; }
    // "94 04 (file or pattern not found)" or "transport failure (PC/SC 0x80100016)".
    std::string describe() const;

  private:
    Status(StatusWord sw, long pcscError, bool delivered)
        : sw_(sw), pcscError_(pcscError), delivered_(delivered) {}

    StatusWord sw_;
    long pcscError_ = 0;
    bool delivered_ = false;
};

// One answer of the card: its data and how the exchange ended. Kept on the
// stack like the receive buffer it comes from.
class Response {
  public:
    // The 260-byte receive buffer less the two status bytes.
    static constexpr std::size_t kMaxData = 258;

    // A received answer: data, then SW1 SW2. Fewer than two bytes is a transport failure.
    static Response received(ByteView answer);
    static Response transportFailure(long pcscError);

    const Status& status() const { return status_; }
    bool delivered() const { return status_.delivered(); }
    StatusWord sw() const { return status_.sw(); }
    StatusCategory category() const { return status_.category(); }
    bool isOk() const { return status_.isOk(); }
    // SW1 = 9F: SW2 bytes of response data wait for GET RESPONSE.
    bool hasResponseWaiting() const { return delivered() && sw().sw1 == 0x9F; }
    ByteView data() const { return {data_.data(), size_}; }

    // Copies at most `capacity` data bytes; returns how many.
    std::size_t copyData(std::uint8_t* destination, std::size_t capacity) const;

  private:
    explicit Response(Status status) : status_(status) {}

    Status status_;
    std::array<std::uint8_t, kMaxData> data_{};
    std::size_t size_ = 0;
};

}  // namespace zrn::channel
