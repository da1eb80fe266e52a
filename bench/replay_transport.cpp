#include "bench/replay_transport.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "channel/card_channel.h"
#include "channel/transport.h"

namespace zrn::bench {

namespace {

// pcsc-lite's values for the two ways a replay can go wrong.
constexpr long kNoSmartcard = static_cast<long>(0x8010000CL);
constexpr long kProtocolMismatch = static_cast<long>(0x8010000FL);
constexpr long kInsufficientBuffer = static_cast<long>(0x80100008L);

struct TransportState {
    TransportMode mode = TransportMode::kRecording;
    sim::VirtualCard* card = nullptr;
    Tape* recording = nullptr;
    const Tape* replay = nullptr;
    std::size_t position = 0;
    bool faithful = true;
    std::string error;
};

TransportState& state() {
    static TransportState instance;
    return instance;
}

void noteMismatch(std::size_t position, const char* what) {
    auto& s = state();
    if (s.faithful) {
        std::ostringstream text;
        text << "command " << position + 1 << ": " << what;
        s.error = text.str();
    }
    s.faithful = false;
}

long record(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
            std::uint32_t* responseLength) {
    auto& s = state();
    Bytes answer;
    const long rv = s.card->transmit(ByteView(command, commandLength), answer);
    if (rv != 0) {
        return rv;
    }
    if (answer.size() > *responseLength) {
        return kInsufficientBuffer;
    }
    TapeStep step;
    step.commandLength = commandLength;
    std::memcpy(step.header, command, std::min<std::uint32_t>(commandLength, sizeof step.header));
    step.responseOffset = static_cast<std::uint32_t>(s.recording->answers.size());
    step.responseLength = static_cast<std::uint32_t>(answer.size());
    s.recording->steps.push_back(step);
    s.recording->answers.insert(s.recording->answers.end(), answer.begin(), answer.end());
    std::memcpy(response, answer.data(), answer.size());
    *responseLength = step.responseLength;
    return 0;
}

// The timed path: one comparison of length and header, one memcpy.
long replay(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
            std::uint32_t* responseLength) {
    auto& s = state();
    const Tape& tape = *s.replay;
    if (s.position >= tape.steps.size()) {
        noteMismatch(s.position, "the operation sent more commands than were recorded");
        return kProtocolMismatch;
    }
    const TapeStep& step = tape.steps[s.position];
    if (commandLength != step.commandLength || commandLength < sizeof step.header ||
        std::memcmp(command, step.header, sizeof step.header) != 0) {
        noteMismatch(s.position, "the command differs from the recorded one");
        return kProtocolMismatch;
    }
    if (step.responseLength > *responseLength) {
        noteMismatch(s.position, "the recorded answer does not fit the receive buffer");
        return kInsufficientBuffer;
    }
    std::memcpy(response, tape.answer(step), step.responseLength);
    *responseLength = step.responseLength;
    ++s.position;
    return 0;
}

// The exchange beneath the process channel while a recording or replay runs.
class TapeTransport : public channel::Transport {
  public:
    long transmit(CardHandle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override {
        auto& s = state();
        const auto length = static_cast<std::uint32_t>(command.size());
        if (s.mode == TransportMode::kReplaying && s.replay != nullptr) {
            return replay(command.data(), length, response, &responseLength);
        }
        if (s.mode == TransportMode::kRecording && s.card != nullptr) {
            return record(command.data(), length, response, &responseLength);
        }
        return kNoSmartcard;
    }
};

// The tape is the default transport of every channel while it runs.
void install() {
    static TapeTransport transport;
    channel::setDefaultTransport(&transport);
}

void uninstall() {
    channel::setDefaultTransport(nullptr);
}

}  // namespace

void startRecording(sim::VirtualCard& card, Tape& tape) {
    auto& s = state();
    s.mode = TransportMode::kRecording;
    s.card = &card;
    s.recording = &tape;
    s.replay = nullptr;
    install();
}

void stopRecording() {
    auto& s = state();
    s.card = nullptr;
    s.recording = nullptr;
    uninstall();
}

void startReplay(const Tape& tape) {
    auto& s = state();
    s.mode = TransportMode::kReplaying;
    s.card = nullptr;
    s.recording = nullptr;
    s.replay = &tape;
    s.faithful = true;
    s.error.clear();
    s.position = 0;
    install();
}

void rewind() {
    state().position = 0;
}

void stopReplay() {
    state().replay = nullptr;
    uninstall();
}

bool replayFaithful() {
    return state().faithful;
}

std::size_t replayPosition() {
    return state().position;
}

const std::string& replayError() {
    return state().error;
}

}  // namespace zrn::bench
