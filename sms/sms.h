#pragma once

#include <cstdint>

#include "channel/card_channel.h"

namespace zrn::sms {

// ReadSMS's steps; returns the export's result code (outcomes already translated).
std::int32_t readMessages(channel::CardChannel& channel, std::int32_t& count,
                          std::int32_t& length, std::uint8_t* buffer);

// WriteSMS's steps; the frame has already refused negative counts and lengths
// and a null non-empty stream.
std::int32_t writeMessages(channel::CardChannel& channel, std::int32_t count,
                           std::int32_t length, const std::uint8_t* stream);

}  // namespace zrn::sms
