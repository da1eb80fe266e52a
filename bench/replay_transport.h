#pragma once

// The exchange beneath CardChannel for the benchmarks. A run is first recorded
// against a simulated card; afterwards the recorded answers are handed back in
// order with one memcpy each, so that a timed run measures the library alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "channel/bytes.h"
#include "sim/virtual_card.h"

namespace zrn::bench {

// One recorded command: its length, its header and where its answer lies in the tape.
struct TapeStep {
    std::uint32_t commandLength = 0;
    std::uint8_t header[5] = {};
    std::uint32_t responseOffset = 0;
    std::uint32_t responseLength = 0;
};

// The exchanges of one operation, answers back to back in one block.
struct Tape {
    std::vector<TapeStep> steps;
    Bytes answers;

    std::size_t size() const { return steps.size(); }
    const std::uint8_t* answer(const TapeStep& step) const {
        return answers.data() + step.responseOffset;
    }
};

// What the exchange does with the commands it is given.
enum class TransportMode {
    kRecording,  // forward to the simulated reader and append to the tape
    kReplaying,  // answer from the tape, checking the command length and header
};

// Routes the library's exchanges through `card` and records them into `tape`
// until stopRecording.
void startRecording(sim::VirtualCard& card, Tape& tape);
void stopRecording();

// Serves `tape` from its first step; rewind() starts it over for the next run.
void startReplay(const Tape& tape);
void rewind();
void stopReplay();

// True when every command of the replay so far matched the tape and the tape
// was not overrun. The first mismatch is described by replayError().
bool replayFaithful();
// Steps consumed since the last rewind.
std::size_t replayPosition();
const std::string& replayError();

}  // namespace zrn::bench
