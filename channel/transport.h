#pragma once

#include <cstdint>

#include "channel/bytes.h"

namespace zrn::channel {

// The raw exchange beneath CardChannel, with SCardTransmit's contract: the
// response length holds the buffer size on entry and the bytes received on
// return; the result is 0 or a PC/SC error value. Which one a channel uses is
// chosen at run time: the PC/SC service, the simulated reader, a recorded tape.
class Transport {
  public:
    virtual ~Transport() = default;
    virtual long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                          std::uint32_t& responseLength) = 0;
};

// A transport that wraps another one to watch or change its exchanges (a
// command counter, a trace). Override transmit and call forward().
class TransportDecorator : public Transport {
  public:
    explicit TransportDecorator(Transport& inner) : inner_(inner) {}
    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override {
        return forward(handle, command, response, responseLength);
    }

  protected:
    long forward(CardHandle handle, ByteView command, std::uint8_t* response,
                 std::uint32_t& responseLength) {
        return inner_.transmit(handle, command, response, responseLength);
    }

  private:
    Transport& inner_;
};

// The exchange over the platform's PC/SC service (T=0). Built only into the
// programs that link PC/SC (channel/pcsc_transport.cpp).
class PcscTransport : public Transport {
  public:
    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override;
};

}  // namespace zrn::channel
