#pragma once

#include <cstdint>

#include "channel/bytes.h"

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

// Puts a card into the simulated reader that the library's exchanges reach in
// tests and tools; nullptr takes it out. Exchanges on any other handle fail
// with SCARD_E_INVALID_HANDLE, and with no card with SCARD_E_NO_SMARTCARD.
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

// SCardTransmit's answer for the simulated reader.
long exchangeWithSimulator(CardHandle handle, const std::uint8_t* command,
                           std::uint32_t commandLength, std::uint8_t* response,
                           std::uint32_t* responseLength);

}  // namespace zrn::sim
