// The shipped library talks to the host's card through PC/SC from the start:
// this object is linked into libzrn.so / ZRN.dll only.
#include "channel/card_channel.h"
#include "channel/transport.h"

namespace {

zrn::channel::PcscTransport& pcsc() {
    static zrn::channel::PcscTransport transport;
    return transport;
}

const bool kPcscInstalled = [] {
    zrn::channel::setDefaultTransport(&pcsc());
    return true;
}();

}  // namespace
