#pragma once

// What an operation puts on the card link, counted from its recorded exchange.
//
// Model (ISO 7816-3 T=0, GSM 11.11 class A0): each command APDU is one T=0
// command. The reader sends the 5-byte header; when data moves (a command
// with a data field, or an answer with data), the card first sends one
// procedure byte (the INS acknowledgement); then the data goes its way and the
// card ends with SW1 SW2. GSM 11.11 has the host fetch selection responses
// with an explicit GET RESPONSE, so APDUs and T=0 commands match one to one.
// Every character takes 12 etu (start bit, 8 data bits, parity, 2 etu of
// guard time); the link runs at `baud` etu per second. Not counted: the card's
// own processing and EEPROM write time, NULL procedure bytes (60) a busy card
// may send, and the ATR and PPS exchange of the connection.

#include <cstddef>
#include <cstdint>

#include "bench/replay_transport.h"

namespace zrn::bench {

struct WireCount {
    std::size_t commands = 0;
    std::size_t bytesToCard = 0;     // command headers and data
    std::size_t bytesFromCard = 0;   // response data and status words
    std::size_t procedureBytes = 0;  // T=0 acknowledgements, card to host

    std::size_t characters() const { return bytesToCard + bytesFromCard + procedureBytes; }
};

inline constexpr double kEtuPerCharacter = 12.0;
inline constexpr double kDefaultBaud = 9600.0;  // Fi 372, Di 1 at 3.57 MHz
inline constexpr double kFastBaud = 223200.0;   // the fastest rate of common SIM readers

WireCount countWire(const Tape& tape);
// Seconds the characters of `count` take at `baud` etu per second.
double linkSeconds(const WireCount& count, double baud);

}  // namespace zrn::bench
