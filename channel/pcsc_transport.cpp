#include <winscard.h>

#include <type_traits>

#include "channel/transport.h"
#include "zrn.h"

// The handle ConnectReader takes is this platform's own card handle.
static_assert(std::is_same_v<ZRN_CARD_HANDLE, SCARDHANDLE>);

namespace zrn::channel {

long PcscTransport::transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                             std::uint32_t& responseLength) {
    DWORD received = responseLength;
    const LONG rv = SCardTransmit(static_cast<SCARDHANDLE>(handle), SCARD_PCI_T0, command.data(),
                                  static_cast<DWORD>(command.size()), nullptr, response, &received);
    responseLength = static_cast<std::uint32_t>(received);
    return rv;
}

}  // namespace zrn::channel
