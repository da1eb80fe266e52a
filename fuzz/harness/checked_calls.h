#pragma once

// The exports called as a careful host calls them, with buffers of exactly
// the promised size on the heap (so that the address sanitizer sees any byte
// past them), and every promise of the result checked through violation().

#include <cstddef>
#include <cstdint>
#include <string>

#include "channel/bytes.h"
#include "sim/card_image.h"
#include "sim/sim_card.h"

namespace zrn::fuzz {

// A card in the simulated reader, with the library reset to its state at
// load, for one run.
class CardRun {
  public:
    explicit CardRun(sim::CardImage image);
    ~CardRun();
    CardRun(const CardRun&) = delete;
    CardRun& operator=(const CardRun&) = delete;

    sim::SimCard& card() { return card_; }

  private:
    sim::SimCard card_;
};

struct StreamRead {
    std::int32_t result = 0;
    std::int32_t count = 0;
    Bytes stream;  // the bytes the result describes (empty on failure)
};

std::int32_t checkedConnect();
// On success the text is the seven comma-separated numbers.
std::int32_t checkedGetConfig(std::string* text = nullptr);
// A 40,300-byte buffer; on success a well-formed stream within it, on
// failure length and buffer untouched.
StreamRead checkedReadZrn();
// A buffer of 360 bytes per message the host may expect.
StreamRead checkedReadSms(std::size_t messageCapacity);
// The stream in a heap block of exactly its length.
std::int32_t checkedWriteZrn(std::int32_t count, ByteView stream);
std::int32_t checkedWriteSms(std::int32_t count, ByteView stream);

// Whether the card was sent an UPDATE BINARY or UPDATE RECORD since its log began.
bool sentUpdate(const sim::SimCard& card);

// Records in use (status byte not 0) that ReadSMS may return from the card:
// the first 255 records of EF_SMS and of the extra message file.
std::size_t storedMessageBound(const sim::CardImage& image);

}  // namespace zrn::fuzz
