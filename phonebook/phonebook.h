#pragma once

#include <cstdint>

#include "channel/card_channel.h"
#include "library/geometry.h"

namespace zrn::phonebook {

// ReadZRN's steps for either layout; returns the export's result code. On
// failure count, length and buffer are left untouched.
std::int32_t readPhonebook(channel::CardChannel& channel, const PhonebookGeometry& geometry,
                           std::int32_t& count, std::int32_t& length, std::uint8_t* buffer);

// WriteZRN's steps for either layout; the frame has already checked that the
// length is not negative and that a non-empty stream is not null.
std::int32_t writePhonebook(channel::CardChannel& channel, const PhonebookGeometry& geometry,
                            std::int32_t count, std::int32_t length, const std::uint8_t* stream);

}  // namespace zrn::phonebook
