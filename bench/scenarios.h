#pragma once

// One benchmarked export call on one card: the recorded exchange of the call
// (and of the ConnectReader that attaches the card first), the host buffers it
// works on and what its output must be when it is replayed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_cards.h"
#include "bench/replay_transport.h"
#include "channel/bytes.h"

namespace zrn::bench {

struct Scenario {
    std::string name;    // "ReadZRN/extended/full"
    std::string series;  // "ReadZRN/extended": the sizes of one series are compared
    double scale = 1;    // the card's size in the series' own unit (records, quarters)
    bool largest = false;

    Tape connect;    // ConnectReader on this card
    Tape operation;  // the benchmarked call
    std::function<std::int32_t()> call;

    // Host side of the call.
    Bytes input;   // the stream a write stores
    Bytes output;  // the buffer a read fills
    std::int32_t count = 0;
    std::int32_t length = 0;
    char text[64] = {};

    // What the recorded call gave; a replayed call must give the same.
    std::int32_t expectedResult = 0;
    Bytes expectedOutput;
    std::int32_t expectedCount = 0;
    bool checksText = false;    // GetConfig: the text
    bool checksStream = false;  // the reads: count, length and stream

    // The commands the call must send on this card, counted from the
    // command sequence the library is built to: nothing more, nothing less.
    std::size_t prescribedCommands = 0;

    std::string problem;  // why the scenario cannot run; empty when it can
};

// Names of every scenario, in the order they are reported.
std::vector<std::string> scenarioNames();
// Records the scenario on first use (the simulated card does the work once).
Scenario& scenario(const std::string& name);
// The scenario if it has been recorded, else nullptr.
const Scenario* recordedScenario(const std::string& name);

// Attaches the scenario's card by replaying its ConnectReader and readies the
// call's own tape; false (with `problem` set) when the replay went astray.
bool prepareReplay(Scenario& s);
// After a replayed call: the whole tape was used, the commands matched and the
// output is the recorded one.
bool replayedCallIsFaithful(Scenario& s, std::int32_t result);

}  // namespace zrn::bench
