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

// What the command count of a call depends on.
struct CardFacts {
    std::size_t nameFileSize = 0;
    std::size_t numberFileSize = 0;
    std::size_t groups = 0;
    std::size_t adiEntries = 0;
    std::size_t adnRecords = 0;
    std::size_t smsRecords = 0;
    std::size_t lms = 0;
    std::size_t ems = 0;
};

struct BuiltCard {
    sim::CardImage image;
    double scale = 1;  // quarters for the extended card, records per store for the others
    CardFacts facts;
};

BuiltCard buildCard(Card card, CardSize size) {
    BuiltCard built;
    switch (card) {
        case Card::kExtended: {
            ExtendedCard extended = buildLargestExtendedCard(size);
            const auto& g = extended.geometry;
            built.image = std::move(extended.image);
            built.scale = static_cast<double>(quarters(size));
            built.facts.nameFileSize = std::size_t{g.nameSlotCount} * g.nameSlotLength;
            built.facts.numberFileSize = std::size_t{g.numberSlotCount} * g.numberSlotLength;
            built.facts.groups = g.groupCount;
            built.facts.adiEntries = g.adiCount;
            return built;
        }
        case Card::kStandard: {
            StandardCard standard = buildLargestStandardCard(size);
            built.image = std::move(standard.image);
            built.scale = static_cast<double>(standard.records);
            built.facts.adnRecords = standard.records;
            return built;
        }
        case Card::kMessages: {
            MessageCard messages = buildLargestMessageCard(size);
            built.image = std::move(messages.image);
            built.scale = static_cast<double>(messages.recordsPerStore);
            built.facts.smsRecords = messages.recordsPerStore;
            built.facts.lms = messages.lmsRecords;
            built.facts.ems = messages.emsRecords;
            return built;
        }
    }
    throw std::logic_error("unknown card");
}

std::size_t chunks(std::size_t fileSize) {
    return (fileSize + 254) / 255;  // READ / UPDATE BINARY carry at most 255 bytes
}

// The command sequence of each call, step by step (SELECTs along full paths
// from the MF; GET RESPONSE after each selection whose response is needed).
std::size_t prescribedCommands(Card card, Call call, const CardFacts& f) {
    constexpr std::size_t kPath = 3;           // 3F00, 7F10 (or 5F00), the EF
    constexpr std::size_t kSelectAndInfo = 4;  // a path and its GET RESPONSE
    const bool extended = card == Card::kExtended;
    switch (call) {
        case Call::kConnect:
            // Discovery (found under 7F10, or 7F10 and 5F00 both tried), EF_ADN and
            // EF_SMS with their responses, the configuration file and, on an
            // extended card, its READ BINARY and the option file (3F00, 2F99, READ).
            return (extended ? 3 : 5) + 2 * kSelectAndInfo + kPath + (extended ? 1 + 3 : 0);
        case Call::kGetConfig:
            return kPath;
        case Call::kRead:
            if (extended) {
                return kPath + (kSelectAndInfo + f.groups) +
                       (kSelectAndInfo + chunks(f.nameFileSize)) +
                       (kSelectAndInfo + chunks(f.numberFileSize)) +
                       (kSelectAndInfo + f.adiEntries);
            }
            return kPath + kSelectAndInfo + f.adnRecords;
        case Call::kWrite:
            if (extended) {
                // Images sized from the number and name files, then the group
                // records cleared and named, the two files whole, every ADI record.
                return kPath + 2 * kSelectAndInfo + (kPath + 2 * f.groups) +
                       (kSelectAndInfo + chunks(f.nameFileSize)) +
                       (kSelectAndInfo + chunks(f.numberFileSize)) + (kPath + f.adiEntries);
            }
            // Every record cleared, then every contact but into the last record.
            return kPath + kSelectAndInfo + f.adnRecords + (f.adnRecords - 1);
        case Call::kReadSms:
            // EF_SMS; the index, the extra file, the index again with its READ
            // BINARY, the extra file again and the indexed records.
            return (kSelectAndInfo + f.smsRecords) + kPath + kSelectAndInfo + (kSelectAndInfo + 1) +
                   kPath + (f.lms + f.ems);
        case Call::kWriteSms:
            // The checks (the index with its size when messages go to the extra
            // file), EF_SMS, each extra record with its own selection, the index
            // read between the LMS and EMS records and written at the end.
            return (kSelectAndInfo + kPath + kSelectAndInfo + kSelectAndInfo) +
                   (kPath + f.smsRecords) + (kPath + f.lms * (kPath + 1)) + (kPath + 1) +
                   (kPath + f.ems * (kPath + 1)) + (kPath + 1);
    }
    return 0;
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
    s.prescribedCommands = prescribedCommands(plan.card, plan.call, built.facts);
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
