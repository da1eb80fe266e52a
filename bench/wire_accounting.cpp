#include "bench/wire_accounting.h"

namespace zrn::bench {

namespace {
constexpr std::uint32_t kHeaderLength = 5;
constexpr std::uint32_t kStatusLength = 2;
}  // namespace

WireCount countWire(const Tape& tape) {
    WireCount count;
    for (const TapeStep& step : tape.steps) {
        ++count.commands;
        count.bytesToCard += step.commandLength;
        count.bytesFromCard += step.responseLength;
        const bool dataToCard = step.commandLength > kHeaderLength;
        const bool dataFromCard = step.responseLength > kStatusLength;
        if (dataToCard || dataFromCard) {
            ++count.procedureBytes;
        }
    }
    return count;
}

double linkSeconds(const WireCount& count, double baud) {
    return static_cast<double>(count.characters()) * kEtuPerCharacter / baud;
}

}  // namespace zrn::bench
