// Fails every command of every export in turn, once with a status word of
// each class (not found, security, wrong parameters, technical problem, memory
// problem) and once with a transport error, on the sample cards of both layouts. Each
// failure must give a result the export documents for the step that failed,
// never 0 unless the failing command is one whose failure the library reads
// as a fact about the card (each such rule says why), and the card must hold
// what it may hold afterwards: exactly what it held for any failure before the
// first write, and no change outside the files the export writes.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "connection/geometry.h"
#include "fuzz/harness/checked_calls.h"
#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "sim/card_builder.h"
#include "sim/samples.h"
#include "sms/sms.h"
#include "zrn.h"

namespace zrn::fuzz {
namespace {

namespace files = sim::files;

constexpr std::uint8_t kSelect = 0xA4;
constexpr std::uint8_t kGetResponse = 0xC0;
constexpr std::uint8_t kReadBinary = 0xB0;
constexpr std::uint8_t kUpdateBinary = 0xD6;
constexpr std::uint8_t kReadRecord = 0xB2;
constexpr std::uint8_t kUpdateRecord = 0xDC;
constexpr std::uint8_t kAnyInstruction = 0x00;
constexpr long kPcscError = 0x80100016L;  // SCARD_E_NOT_TRANSACTED

enum class Layout { kStandard, kExtended };

// One injected fault: a status word of one class, or (0) a failed exchange.
struct Fault {
    const char* name;
    std::uint16_t statusWord;
    bool notFound;
};

constexpr Fault kFaults[] = {
    {"94 04", 0x9404, true},  {"98 04", 0x9804, false}, {"6B 00", 0x6B00, false},
    {"6F 00", 0x6F00, false}, {"92 40", 0x9240, false}, {"transport", 0, false},
};

const char* layoutName(Layout layout) {
    return layout == Layout::kExtended ? "extended" : "standard";
}

// One command of an export's conversation, named by the file its path leads
// to: every path starts with SELECT 3F00, and the commands after the last
// SELECT of a path work on that path's file.
struct Command {
    std::size_t number = 0;  // 1-based, as the fault injection counts
    std::uint8_t instruction = 0;
    std::uint16_t target = 0;
    int occurrence = 0;  // 1 for the first path to `target` in the conversation
    std::uint8_t p3 = 0;
};

std::uint16_t selectedId(const Bytes& command) {
    return command.size() >= 7 ? readBe16(&command[5]) : 0;
}

std::vector<Command> labelCommands(const std::vector<sim::Exchange>& log) {
    std::vector<Command> commands;
    std::map<std::uint16_t, int> paths;
    std::uint16_t target = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const Bytes& c = log[i].command;
        const bool startsPath = c[1] == kSelect && selectedId(c) == files::kMf;
        if (startsPath) {
            std::size_t last = i;
            while (last + 1 < log.size() && log[last + 1].command[1] == kSelect &&
                   selectedId(log[last + 1].command) != files::kMf) {
                ++last;
            }
            target = selectedId(log[last].command);
            ++paths[target];
        }
        commands.push_back({i + 1, c[1], target, paths[target], c[4]});
    }
    return commands;
}

// What failing one command may give. The first rule that matches applies.
struct Rule {
    std::uint16_t target;
    std::uint8_t instruction = kAnyInstruction;
    int occurrence = 0;  // 0: any
    std::set<std::int32_t> results;
    // Why a failure of this command is no failure, for rules that allow 0.
    const char* noFailureBecause = nullptr;
    // For UPDATE BINARY: the result of a full 255-byte piece and of the last, shorter one.
    std::optional<std::int32_t> shortPieceResult = std::nullopt;
    // When the card answers "not found" here, and that answer differs from a failure.
    std::optional<std::set<std::int32_t>> notFoundResults = std::nullopt;

    bool matches(const Command& c) const {
        return c.target == target &&
               (instruction == kAnyInstruction || c.instruction == instruction) &&
               (occurrence == 0 || c.occurrence == occurrence);
    }
    std::set<std::int32_t> allowed(const Command& c, const Fault& fault) const {
        if (fault.notFound && notFoundResults) {
            return *notFoundResults;
        }
        if (shortPieceResult && c.p3 != 0xFF) {
            return {*shortPieceResult};
        }
        return results;
    }
};

struct SweepCase {
    Export which;
    Layout layout;
    std::vector<Rule> rules;
    // The files the export writes; any other file must keep its content.
    std::set<std::string> writes;
};

std::string name(const SweepCase& c) {
    return std::string(exportName(c.which)) + "_" + layoutName(c.layout);
}

void PrintTo(const SweepCase& c, std::ostream* os) {
    *os << name(c);
}

// Explanations of the failures that are not failures.
constexpr const char* kDiscovery =
    "the phone-book directory search is not acted upon: a card without one is a standard card";
constexpr const char* kLayoutTest =
    "a card that says the configuration file is not there is a standard-layout card";
constexpr const char* kNoIndex =
    "a card that says the index is not there has none: every extra record is LMS";
constexpr const char* kNoExtraMessages =
    "the extra message file's size matters only to a stream with extra messages";
constexpr const char* kAbsentStore =
    "the standard sample has no extra message store: a failed selection says the same";

const std::string kName = pathText({files::kTelecom, files::kName});
const std::string kNumber = pathText({files::kTelecom, files::kNumber});
const std::string kAdi = pathText({files::kTelecom, files::kAdi});
const std::string kGroup = pathText({files::kTelecom, files::kGroup});
const std::string kAdn = pathText({files::kTelecom, files::kAdn});
const std::string kSms = pathText({files::kTelecom, files::kSms});
const std::string kExtra = pathText({files::kTelecom, files::kExtraMessages});
const std::string kIndex = pathText({files::kTelecom, files::kExtraMessageIndex});

std::vector<Rule> connectRules() {
    return {
        {files::kName, kSelect, 1, {0}, kDiscovery},
        {files::kSecondDirectory, kSelect, 0, {0}, kDiscovery},
        {files::kConfig, kSelect, 0, {3}, kLayoutTest, std::nullopt, std::set{0}},
        // the path through a directory never found
        {0x0000, kSelect, 0, {3}, kLayoutTest, std::nullopt, std::set{0}},
        {files::kAdn, kAnyInstruction, 0, {3}},
        {files::kSms, kAnyInstruction, 0, {3}},
        {files::kConfig, kReadBinary, 0, {3}},
        {files::kOption, kAnyInstruction, 0, {3}},
    };
}

std::vector<Rule> getConfigRules() {
    return {
        {files::kConfig, kSelect, 0, {2}, kLayoutTest, std::nullopt, std::set{0}},
        {0x0000, kSelect, 0, {2}, kLayoutTest, std::nullopt, std::set{0}},
    };
}

std::vector<Rule> readZrnRules(Layout layout) {
    if (layout == Layout::kStandard) {
        return {
            {0x0000, kSelect, 0, {2}, kLayoutTest, std::nullopt, std::set{0}},
            {files::kAdn, kAnyInstruction, 0, {319}},
        };
    }
    return {
        // Read as a standard card, the sample's EF_ADN is read instead.
        {files::kConfig, kSelect, 0, {2}, kLayoutTest, std::nullopt, std::set{0}},
        {files::kAdn, kAnyInstruction, 0, {319}},
        {files::kGroup, kAnyInstruction, 0, {2}},
        {files::kName, kAnyInstruction, 0, {2}},
        {files::kNumber, kAnyInstruction, 0, {2}},
        {files::kAdi, kAnyInstruction, 0, {2}},
    };
}

std::vector<Rule> writeZrnRules(Layout layout) {
    if (layout == Layout::kStandard) {
        return {
            {0x0000, kSelect, 0, {2}, kLayoutTest, std::nullopt, std::set{0}},
            {files::kAdn, kAnyInstruction, 0, {2}},
        };
    }
    return {
        // Taken for a standard card, the stream (led by GRP elements) is refused.
        {files::kConfig, kSelect, 0, {2}, nullptr, std::nullopt, std::set{339}},
        {files::kAdn, kAnyInstruction, 0, {2, 339}},
        {files::kNumber, kSelect, 1, {331}},
        {files::kNumber, kGetResponse, 1, {333}},
        {files::kName, kSelect, 1, {335}},
        {files::kName, kGetResponse, 1, {337}},
        {files::kGroup, kAnyInstruction, 0, {2}},
        {files::kName, kSelect, 2, {360}},
        {files::kName, kGetResponse, 2, {362}},
        {files::kName, kUpdateBinary, 2, {363}, nullptr, 364},
        {files::kNumber, kSelect, 2, {370}},
        {files::kNumber, kGetResponse, 2, {372}},
        {files::kNumber, kUpdateBinary, 2, {373}, nullptr, 374},
        {files::kAdi, kAnyInstruction, 0, {2}},
    };
}

std::vector<Rule> readSmsRules(Layout layout) {
    std::vector<Rule> rules = {
        {files::kSms, kAnyInstruction, 0, {2}},
    };
    if (layout == Layout::kStandard) {
        rules.push_back(
            {files::kExtraMessageIndex, kSelect, 0, {2}, kAbsentStore, std::nullopt, std::set{0}});
        rules.push_back(
            {files::kExtraMessages, kSelect, 0, {2}, kAbsentStore, std::nullopt, std::set{0}});
        return rules;
    }
    rules.insert(
        rules.end(),
        {
            {files::kExtraMessageIndex, kSelect, 1, {2}, kNoIndex, std::nullopt, std::set{0}},
            // Selected again to read its records: a read failure.
            {files::kExtraMessages, kSelect, 2, {305}},
            {files::kExtraMessages, kReadRecord, 0, {305}},
            {files::kExtraMessages, kAnyInstruction, 0, {2}},
            {files::kExtraMessageIndex, kAnyInstruction, 0, {2}},
        });
    return rules;
}

std::vector<Rule> writeSmsRules(Layout layout) {
    if (layout == Layout::kStandard) {
        return {
            {files::kExtraMessageIndex, kSelect, 0, {2}, kAbsentStore, std::nullopt, std::set{0}},
            {files::kExtraMessages, kSelect, 1, {2}, kAbsentStore, std::nullopt, std::set{0}},
            {files::kExtraMessages, kSelect, 2, {0}, kNoExtraMessages},
            {files::kSms, kAnyInstruction, 0, {2}},
        };
    }
    return {
        // The checks then find a store missing for messages of the stream.
        {files::kExtraMessageIndex, kSelect, 1, {2}, nullptr, std::nullopt, std::set{4}},
        {files::kExtraMessages, kSelect, 1, {2}, nullptr, std::nullopt, std::set{4}},
        {files::kSms, kAnyInstruction, 0, {2}},
        {files::kExtraMessages, kAnyInstruction, 0, {2}},
        {files::kExtraMessageIndex, kAnyInstruction, 0, {2}},
    };
}

std::vector<SweepCase> sweepCases() {
    std::vector<SweepCase> cases;
    for (Layout layout : {Layout::kStandard, Layout::kExtended}) {
        const bool extended = layout == Layout::kExtended;
        cases.push_back({Export::kConnectReader, layout, connectRules(), {}});
        cases.push_back({Export::kGetConfig, layout, getConfigRules(), {}});
        cases.push_back({Export::kReadZRN, layout, readZrnRules(layout), {}});
        cases.push_back({Export::kWriteZRN, layout, writeZrnRules(layout),
                         extended ? std::set<std::string>{kGroup, kName, kNumber, kAdi}
                                  : std::set<std::string>{kAdn}});
        cases.push_back({Export::kReadSMS, layout, readSmsRules(layout), {}});
        cases.push_back(
            {Export::kWriteSMS, layout, writeSmsRules(layout),
             extended ? std::set<std::string>{kSms, kExtra, kIndex} : std::set<std::string>{kSms}});
    }
    return cases;
}

const sim::CardImage& sample(Layout layout) {
    static const sim::CardImage kExtended = sim::extendedSample();
    static const sim::CardImage kStandard = sim::standardSample();
    return layout == Layout::kExtended ? kExtended : kStandard;
}

// --- the streams written: the sample's own, rearranged so that every file
// the export writes changes -------------------------------------------------

std::vector<ByteView> elementsOf(ByteView stream) {
    std::vector<ByteView> elements;
    std::size_t at = 0;
    while (at + 8 <= stream.size()) {
        const std::size_t length = (std::size_t{stream[at + 5]} << 16) |
                                   (std::size_t{stream[at + 6]} << 8) | stream[at + 7];
        elements.push_back(stream.subspan(at, 8 + length));
        at += 8 + length;
    }
    return elements;
}

// Contacts in reverse order, the first group renamed.
Bytes rearrangedPhonebook(const Bytes& stream) {
    std::vector<Bytes> groups;
    std::vector<Bytes> contacts;
    for (ByteView element : elementsOf(stream)) {
        const bool group = element[1] == 'G';
        (group ? groups : contacts).emplace_back(element.begin(), element.end());
    }
    if (!groups.empty() && groups.front().size() > 8) {
        groups.front()[8] = 'X';
    }
    Bytes out;
    for (const Bytes& g : groups) {
        out.insert(out.end(), g.begin(), g.end());
    }
    for (auto it = contacts.rbegin(); it != contacts.rend(); ++it) {
        out.insert(out.end(), it->begin(), it->end());
    }
    return out;
}

// Messages in reverse order: each store gets its records in the other order.
Bytes rearrangedMessages(const Bytes& stream) {
    Bytes out;
    for (std::size_t at = stream.size(); at >= ZRN_SMS_ELEMENT_SIZE; at -= ZRN_SMS_ELEMENT_SIZE) {
        out.insert(out.end(),
                   stream.begin() + static_cast<std::ptrdiff_t>(at - ZRN_SMS_ELEMENT_SIZE),
                   stream.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return out;
}

struct Streams {
    Bytes phonebook;
    std::int32_t contacts = 0;
    Bytes messages;
    std::int32_t messageCount = 0;
};

const Streams& streamsToWrite(Layout layout) {
    static std::map<Layout, Streams> cache;
    auto it = cache.find(layout);
    if (it == cache.end()) {
        CardRun run(sample(layout));
        checkedConnect();
        const StreamRead phonebook = checkedReadZrn();
        const StreamRead messages = checkedReadSms(sms::kMaxStoredMessages);
        Streams s{rearrangedPhonebook(phonebook.stream), phonebook.count,
                  rearrangedMessages(messages.stream), messages.count};
        it = cache.emplace(layout, std::move(s)).first;
    }
    return it->second;
}

// --- running one export --------------------------------------------------------

std::int32_t runExport(Export which, Layout layout) {
    switch (which) {
        case Export::kConnectReader:
            return ConnectReader(sim::kSimulatedHandle);
        case Export::kGetConfig:
            return checkedGetConfig();
        case Export::kReadZRN:
            return checkedReadZrn().result;
        case Export::kWriteZRN: {
            const Streams& s = streamsToWrite(layout);
            return checkedWriteZrn(s.contacts, s.phonebook);
        }
        case Export::kReadSMS:
            return checkedReadSms(sms::kMaxStoredMessages).result;
        case Export::kWriteSMS: {
            const Streams& s = streamsToWrite(layout);
            return checkedWriteSms(s.messageCount, s.messages);
        }
    }
    return -9999;
}

bool isReading(Export which) {
    return which != Export::kWriteZRN && which != Export::kWriteSMS;
}

struct Tally {
    std::size_t cases = 0;
    std::size_t commands = 0;
    std::size_t cardsCompared = 0;
    std::map<std::int32_t, std::size_t> results;
    // Per export and layout: commands failed and, per fault, the results they gave.
    std::map<std::string, std::pair<std::size_t, std::map<std::string, std::set<std::int32_t>>>>
        perCase;
};

Tally& tally() {
    static Tally t;
    return t;
}

// Runs the export on a fresh copy of the sample, connected first unless the
// export is the connection itself, with `inject` applied to the copy.
struct ExportRun {
    std::int32_t result = 0;
    sim::CardImage after;
    std::vector<sim::Exchange> log;
};

ExportRun runOnce(const SweepCase& c, const std::function<void(sim::SimCard&)>& inject) {
    CardRun run(sample(c.layout));
    if (c.which != Export::kConnectReader) {
        EXPECT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
        run.card().clearLog();
    }
    inject(run.card());
    ExportRun r;
    r.result = runExport(c.which, c.layout);
    r.after = run.card().image();
    r.log = run.card().log();
    return r;
}

void throwOnViolation(const std::string& what) {
    throw std::runtime_error(what);
}

class FaultSweep : public ::testing::TestWithParam<SweepCase> {
  protected:
    void SetUp() override {
        setViolationHandler(throwOnViolation);
        streamsToWrite(GetParam().layout);
    }
    void TearDown() override { setViolationHandler(nullptr); }
};

TEST_P(FaultSweep, EveryFailedCommandGivesItsResultAndKeepsTheCard) {
    const SweepCase& c = GetParam();
    const sim::CardImage& before = sample(c.layout);
    const ExportRun baseline = runOnce(c, [](sim::SimCard&) {});
    ASSERT_EQ(baseline.result, 0) << "the export fails on the sample without a fault";
    const std::vector<Command> commands = labelCommands(baseline.log);
    ASSERT_FALSE(commands.empty());
    std::size_t firstWrite = commands.size() + 1;
    for (const Command& command : commands) {
        if (command.instruction == kUpdateBinary || command.instruction == kUpdateRecord) {
            firstWrite = std::min(firstWrite, command.number);
        }
    }
    tally().commands += commands.size();
    auto& mine = tally().perCase[name(c)];
    mine.first = commands.size();

    for (const Command& command : commands) {
        const auto rule = std::find_if(c.rules.begin(), c.rules.end(),
                                       [&](const Rule& r) { return r.matches(command); });
        ASSERT_NE(rule, c.rules.end()) << "no rule for command " << command.number << ": "
                                       << toHex(baseline.log[command.number - 1].command);
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE("command " + std::to_string(command.number) + " " +
                         toHex(baseline.log[command.number - 1].command) + " failed with " +
                         fault.name);
            ExportRun r;
            try {
                r = runOnce(c, [&](sim::SimCard& card) {
                    if (fault.statusWord != 0) {
                        card.failCommand(command.number, fault.statusWord);
                    } else {
                        card.failTransportAt(command.number, kPcscError);
                    }
                });
            } catch (const std::runtime_error& broken) {
                ADD_FAILURE() << broken.what();
                continue;
            }
            ++tally().cases;
            ++tally().results[r.result];
            mine.second[fault.name].insert(r.result);
            EXPECT_TRUE(isDocumentedResult(c.which, r.result)) << r.result;
            EXPECT_EQ(rule->allowed(command, fault).count(r.result), 1u)
                << "result " << r.result << " for a failure of this step";
            if (r.result == 0) {
                EXPECT_NE(rule->noFailureBecause, nullptr) << "a failure reported as success";
            }
            ++tally().cardsCompared;
            const std::vector<std::string> changed = changedFiles(before, r.after);
            if (isReading(c.which) || (r.result != 0 && command.number < firstWrite)) {
                EXPECT_EQ(changed, std::vector<std::string>{})
                    << "changed by a failure before any write";
            } else {
                for (const std::string& path : changed) {
                    EXPECT_EQ(c.writes.count(path), 1u) << path << " changed";
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, FaultSweep, ::testing::ValuesIn(sweepCases()),
                         [](const auto& param) { return name(param.param); });

class SweepReport : public ::testing::Environment {
  public:
    void TearDown() override {
        const Tally& t = tally();
        std::cout << "fault sweep: " << t.cases << " cases over " << t.commands << " commands, "
                  << t.cardsCompared << " cards compared; results seen:";
        for (const auto& [result, count] : t.results) {
            std::cout << " " << result << " x" << count;
        }
        std::cout << "\n";
        for (const auto& [which, seen] : t.perCase) {
            std::cout << "  " << which << ": " << seen.first << " commands; results by fault:";
            for (const auto& [fault, results] : seen.second) {
                std::cout << " [" << fault << ":";
                for (std::int32_t result : results) {
                    std::cout << " " << result;
                }
                std::cout << "]";
            }
            std::cout << "\n";
        }
    }
};

const auto* const kReport = ::testing::AddGlobalTestEnvironment(new SweepReport);

}  // namespace
}  // namespace zrn::fuzz
