#include "bench/scenarios.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "sim/sim_card.h"
#include "zrn.h"

namespace zrn::bench {

namespace {

// Any non-zero handle: the benchmark transport ignores it.
constexpr CardHandle kHandle = 0x42454E;
constexpr std::size_t kSmsBufferSize = 2 * 255 * ZRN_SMS_ELEMENT_SIZE;

enum class Card { kExtended, kStandard, kMessages };

struct Plan {
    const char* name;
    const char* series;
    Card card;
    CardSize size;
    enum class Call { kConnect, kGetConfig, kRead, kWrite, kReadSms, kWriteSms } call;
};

using Call = Plan::Call;

const Plan kPlans[] = {
    {"ConnectReader/extended", "", Card::kExtended, CardSize::kFull, Call::kConnect},
    {"ConnectReader/standard", "", Card::kStandard, CardSize::kFull, Call::kConnect},
    {"GetConfig/extended", "", Card::kExtended, CardSize::kFull, Call::kGetConfig},
    {"ReadZRN/extended/quarter", "ReadZRN/extended", Card::kExtended, CardSize::kQuarter,
     Call::kRead},
    {"ReadZRN/extended/half", "ReadZRN/extended", Card::kExtended, CardSize::kHalf, Call::kRead},
    {"ReadZRN/extended/full", "ReadZRN/extended", Card::kExtended, CardSize::kFull, Call::kRead},
    {"WriteZRN/extended/quarter", "WriteZRN/extended", Card::kExtended, CardSize::kQuarter,
     Call::kWrite},
    {"WriteZRN/extended/half", "WriteZRN/extended", Card::kExtended, CardSize::kHalf, Call::kWrite},
    {"WriteZRN/extended/full", "WriteZRN/extended", Card::kExtended, CardSize::kFull, Call::kWrite},
    {"ReadZRN/standard/quarter", "ReadZRN/standard", Card::kStandard, CardSize::kQuarter,
     Call::kRead},
    {"ReadZRN/standard/half", "ReadZRN/standard", Card::kStandard, CardSize::kHalf, Call::kRead},
    {"ReadZRN/standard/full", "ReadZRN/standard", Card::kStandard, CardSize::kFull, Call::kRead},
    {"WriteZRN/standard/quarter", "WriteZRN/standard", Card::kStandard, CardSize::kQuarter,
     Call::kWrite},
    {"WriteZRN/standard/half", "WriteZRN/standard", Card::kStandard, CardSize::kHalf, Call::kWrite},
    {"WriteZRN/standard/full", "WriteZRN/standard", Card::kStandard, CardSize::kFull, Call::kWrite},
    {"ReadSMS/quarter", "ReadSMS", Card::kMessages, CardSize::kQuarter, Call::kReadSms},
    {"ReadSMS/half", "ReadSMS", Card::kMessages, CardSize::kHalf, Call::kReadSms},
    {"ReadSMS/full", "ReadSMS", Card::kMessages, CardSize::kFull, Call::kReadSms},
    {"WriteSMS/quarter", "WriteSMS", Card::kMessages, CardSize::kQuarter, Call::kWriteSms},
    {"WriteSMS/half", "WriteSMS", Card::kMessages, CardSize::kHalf, Call::kWriteSms},
    {"WriteSMS/full", "WriteSMS", Card::kMessages, CardSize::kFull, Call::kWriteSms},
};

struct BuiltCard {
    sim::CardImage image;
    double scale = 1;  // quarters for the extended card, records per store for the others
};

BuiltCard buildCard(Card card, CardSize size) {
    switch (card) {
        case Card::kExtended:
            return {buildLargestExtendedCard(size).image, static_cast<double>(quarters(size))};
        case Card::kStandard: {
            StandardCard standard = buildLargestStandardCard(size);
            return {std::move(standard.image), static_cast<double>(standard.records)};
        }
        case Card::kMessages: {
            MessageCard messages = buildLargestMessageCard(size);
            return {std::move(messages.image), static_cast<double>(messages.recordsPerStore)};
        }
    }
    throw std::logic_error("unknown card");
}

// Runs `call` against `card`, recording its exchange into `tape`.
template <typename Call>
std::int32_t recorded(sim::SimCard& card, Tape& tape, Call&& call) {
    startRecording(card, tape);
    const std::int32_t result = call();
    stopRecording();
    return result;
}

std::string failed(const char* what, std::int32_t result) {
    return std::string(what) + " answered " + std::to_string(result) + " on the benchmark card";
}

void bindCall(Scenario& s, Call call) {
    switch (call) {
        case Call::kConnect:
            s.call = [] { return ConnectReader(kHandle); };
            return;
        case Call::kGetConfig:
            s.call = [&s] { return GetConfig(s.text); };
            return;
        case Call::kRead:
            s.output.assign(ZRN_PHONEBOOK_BUFFER_SIZE, 0);
            s.call = [&s] { return ReadZRN(&s.count, &s.length, s.output.data()); };
            return;
        case Call::kWrite:
            s.call = [&s] {
                return WriteZRN(s.count, static_cast<std::int32_t>(s.input.size()), s.input.data());
            };
            return;
        case Call::kReadSms:
            s.output.assign(kSmsBufferSize, 0);
            s.call = [&s] { return ReadSMS(&s.count, &s.length, s.output.data()); };
            return;
        case Call::kWriteSms:
            s.call = [&s] {
                return WriteSMS(s.count, static_cast<std::int32_t>(s.input.size()), s.input.data());
            };
            return;
    }
}

// A write stores what the read of the same card returned, so that it takes
// the full path through every contact or message.
bool prepareWriteInput(Scenario& s, sim::SimCard& card, bool messages) {
    Tape scratch;
    Bytes buffer(messages ? kSmsBufferSize : ZRN_PHONEBOOK_BUFFER_SIZE, 0);
    std::int32_t count = 0;
    std::int32_t length = 0;
    const std::int32_t result = recorded(card, scratch, [&] {
        return messages ? ReadSMS(&count, &length, buffer.data())
                        : ReadZRN(&count, &length, buffer.data());
    });
    if (result != 0) {
        s.problem = failed(
            messages ? "ReadSMS (for the stream to write)" : "ReadZRN (for the stream to write)",
            result);
        return false;
    }
    s.input.assign(buffer.begin(), buffer.begin() + length);
    s.count = count;
    return true;
}

void record(Scenario& s, const Plan& plan) {
    BuiltCard built = buildCard(plan.card, plan.size);
    s.scale = built.scale;
    sim::SimCard card(std::move(built.image));

    const std::int32_t connected = recorded(card, s.connect, [] { return ConnectReader(kHandle); });
    if (connected != 0) {
        s.problem = failed("ConnectReader", connected);
        return;
    }
    bindCall(s, plan.call);
    if (plan.call == Call::kConnect) {
        s.operation = s.connect;
        return;
    }
    if (plan.call == Call::kWrite || plan.call == Call::kWriteSms) {
        if (!prepareWriteInput(s, card, plan.call == Call::kWriteSms)) {
            return;
        }
    }
    s.expectedResult = recorded(card, s.operation, s.call);
    if (s.expectedResult != 0) {
        s.problem = failed(plan.name, s.expectedResult);
        return;
    }
    if (plan.call == Call::kRead || plan.call == Call::kReadSms) {
        s.expectedOutput.assign(s.output.begin(), s.output.begin() + s.length);
        s.expectedCount = s.count;
        s.checksStream = true;
    } else if (plan.call == Call::kGetConfig) {
        s.expectedOutput.assign(s.text, s.text + sizeof s.text);
        s.checksText = true;
    }
}

std::map<std::string, std::unique_ptr<Scenario>>& registry() {
    static std::map<std::string, std::unique_ptr<Scenario>> scenarios;
    return scenarios;
}

}  // namespace

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const Plan& plan : kPlans) {
        names.emplace_back(plan.name);
    }
    return names;
}

Scenario& scenario(const std::string& name) {
    auto& scenarios = registry();
    auto found = scenarios.find(name);
    if (found != scenarios.end()) {
        return *found->second;
    }
    auto s = std::make_unique<Scenario>();
    s->name = name;
    s->problem = "no such scenario";
    for (const Plan& plan : kPlans) {
        if (name == plan.name) {
            s->problem.clear();
            s->series = plan.series;
            s->largest = plan.size == CardSize::kFull;
            try {
                record(*s, plan);
            } catch (const std::exception& e) {
                s->problem = std::string("building the benchmark card failed: ") + e.what();
            }
        }
    }
    return *scenarios.emplace(name, std::move(s)).first->second;
}

const Scenario* recordedScenario(const std::string& name) {
    auto found = registry().find(name);
    return found == registry().end() ? nullptr : found->second.get();
}

bool prepareReplay(Scenario& s) {
    startReplay(s.connect);
    const std::int32_t connected = ConnectReader(kHandle);
    if (connected != 0 || !replayFaithful() || replayPosition() != s.connect.size()) {
        s.problem = "replaying ConnectReader went astray: " +
                    (replayFaithful() ? failed("ConnectReader", connected) : replayError());
        stopReplay();
        return false;
    }
    startReplay(s.operation);
    return true;
}

bool replayedCallIsFaithful(Scenario& s, std::int32_t result) {
    if (!replayFaithful()) {
        s.problem = "replay went astray: " + replayError();
    } else if (replayPosition() != s.operation.size()) {
        s.problem = "the replayed call sent " + std::to_string(replayPosition()) + " of " +
                    std::to_string(s.operation.size()) + " recorded commands";
    } else if (result != s.expectedResult) {
        s.problem = "the replayed call answered " + std::to_string(result);
    } else if (s.checksText && Bytes(s.text, s.text + sizeof s.text) != s.expectedOutput) {
        s.problem = "the replayed call gave another text than the recorded one";
    } else if (s.checksStream &&
               (s.count != s.expectedCount ||
                static_cast<std::size_t>(s.length) != s.expectedOutput.size() ||
                !std::equal(s.expectedOutput.begin(), s.expectedOutput.end(), s.output.begin()))) {
        s.problem = "the replayed call gave another stream than the recorded one";
    }
    stopReplay();
    return s.problem.empty();
}

}  // namespace zrn::bench
