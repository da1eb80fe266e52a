#pragma once

#include <cstdint>

#include "channel/bytes.h"
#include "channel/transport.h"

namespace zrn::sim {

// Anything that answers command APDUs as a card in a T=0 reader would.
class VirtualCard {
  public:
    virtual ~VirtualCard() = default;
    // Answers one command. Returns 0 with the response APDU (data, SW1, SW2)
    // in `response`, or a PC/SC error value when the exchange itself fails.
    virtual long transmit(ByteView command, Bytes& response) = 0;
};

// The handle under which the simulated reader offers its card.
constexpr CardHandle kSimulatedHandle = 0x5A524E;

// A reader holding a virtual card, as a transport for a CardChannel.
// Exchanges on any other handle fail with SCARD_E_INVALID_HANDLE, and with no
// card with SCARD_E_NO_SMARTCARD.
class SimulatorTransport : public channel::Transport {
  public:
    SimulatorTransport() = default;
    explicit SimulatorTransport(VirtualCard& card, CardHandle handle = kSimulatedHandle)
        : card_(&card), handle_(handle) {}

    void insert(VirtualCard* card, CardHandle handle = kSimulatedHandle) {
        card_ = card;
        handle_ = card != nullptr ? handle : 0;
    }
    VirtualCard* card() const { return card_; }

    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override;

  private:
    VirtualCard* card_ = nullptr;
    CardHandle handle_ = 0;
};

// Puts a card into the simulated reader and makes that reader the default
// transport of every channel; nullptr takes it out and restores the default
// transport of before.
void insertCard(VirtualCard* card, CardHandle handle = kSimulatedHandle);
VirtualCard* insertedCard();

// Inserts for one scope.
class ScopedCard {
  public:
    explicit ScopedCard(VirtualCard& card, CardHandle handle = kSimulatedHandle) {
        insertCard(&card, handle);
    }
    ~ScopedCard() { insertCard(nullptr); }
    ScopedCard(const ScopedCard&) = delete;
    ScopedCard& operator=(const ScopedCard&) = delete;
};

}  // namespace zrn::sim
