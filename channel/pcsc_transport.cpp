#include "channel/transport.h"

namespace zrn::channel {

long exchangeApdu(CardHandle handle, const std::uint8_t* command, std::uint32_t commandLength,
                  std::uint8_t* response, std::uint32_t* responseLength) {
    return exchangeWithPcsc(handle, command, commandLength, response, responseLength);
}

}  // namespace zrn::channel
