#include <winscard.h>

#include "channel/transport.h"

namespace zrn::channel {

long exchangeWithPcsc(CardHandle handle, const std::uint8_t* command, std::uint32_t commandLength,
                      std::uint8_t* response, std::uint32_t* responseLength) {
    DWORD received = *responseLength;
    const LONG rv = SCardTransmit(static_cast<SCARDHANDLE>(handle), SCARD_PCI_T0, command,
                                  commandLength, nullptr, response, &received);
    *responseLength = static_cast<std::uint32_t>(received);
    return rv;
}

}  // namespace zrn::channel
