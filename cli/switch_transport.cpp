// The exchange beneath the library's channel in the zrn program: the simulated
// reader when a card image is loaded (--sim), the PC/SC service otherwise.
#include "cli/switch_transport.h"

#include "channel/transport.h"
#include "sim/virtual_card.h"

namespace zrn::channel {

long exchangeApdu(CardHandle handle, const std::uint8_t* command, std::uint32_t commandLength,
                  std::uint8_t* response, std::uint32_t* responseLength) {
    const long rv =
        sim::insertedCard() != nullptr
            ? sim::exchangeWithSimulator(handle, command, commandLength, response, responseLength)
            : exchangeWithPcsc(handle, command, commandLength, response, responseLength);
    cli::noteCommandSent();
    return rv;
}

}  // namespace zrn::channel
