#pragma once

#include <cstdint>

#include "channel/bytes.h"

namespace zrn::channel {

// The raw exchange beneath CardChannel, with SCardTransmit's contract: the
// response length holds the buffer size on entry and the bytes received on
// return; the result is 0 or a PC/SC error value. Exactly one definition is
// linked into each program: the real PC/SC exchange in the shipped library,
// the simulated reader in tests and tools.
long exchangeApdu(CardHandle handle, const std::uint8_t* command, std::uint32_t commandLength,
                  std::uint8_t* response, std::uint32_t* responseLength);

// The exchange over the platform's PC/SC service (T=0), for the definitions above.
long exchangeWithPcsc(CardHandle handle, const std::uint8_t* command, std::uint32_t commandLength,
                      std::uint8_t* response, std::uint32_t* responseLength);

}  // namespace zrn::channel
