#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "channel/bytes.h"
#include "sim/sim_card.h"

namespace zrn::virtual_card {

// What the virtual card does with each message of the vpcd driver: a 1-byte
// message is a control (power off, power on, reset, send the ATR), anything
// longer a command APDU for the card.
class CardServer {
  public:
    // Controls of the vpcd protocol.
    static constexpr std::uint8_t kPowerOff = 0;
    static constexpr std::uint8_t kPowerOn = 1;
    static constexpr std::uint8_t kReset = 2;
    static constexpr std::uint8_t kSendAtr = 4;

    // `log`, when given, receives one line per message and answer.
    CardServer(sim::SimCard& card, Bytes atr, std::ostream* log);

    // The answer to send back, or nothing for controls that need none.
    std::optional<Bytes> handle(ByteView message);

    std::size_t commandsAnswered() const { return commands_; }

  private:
    std::optional<Bytes> control(std::uint8_t code);
    Bytes command(ByteView apdu);
    void logLine(const char* direction, ByteView bytes);
    void logNote(const char* note);

    sim::SimCard& card_;
    Bytes atr_;
    std::ostream* log_;
    std::size_t commands_ = 0;
};

// A command as the log shows it: the codes sent by VERIFY, CHANGE, DISABLE,
// ENABLE and UNBLOCK CHV are masked ("**" a byte), their header kept.
std::string commandForLog(ByteView apdu);

// The ATR a card image is served with: its own, or the simulator's default
// T=0 SIM ATR when the image carries none.
Bytes servedAtr(const sim::CardImage& image);

}  // namespace zrn::virtual_card
