// The SELECTs that decide a layout (the configuration file 9000 and the
// directories on its path) and whether the extra message index exists (1F02
// and its path). Only "file not found" is an answer about the card; every
// other failure is a card failure and must say so, with nothing written, the
// card exactly as it was and the host's buffers untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "fuzz/harness/checked_calls.h"
#include "sim/samples.h"
#include "sim/sim_card.h"
#include "zrn.h"

namespace zrn::fuzz {
namespace {

constexpr std::uint8_t kSelect = 0xA4;

struct FaultClass {
    const char* name;
    std::uint16_t statusWord;  // 0: the exchange itself fails
    bool notFound;
};

const std::array<FaultClass, 8> kFaults = {{
    {"not found 94 04", 0x9404, true},
    {"not found 6A 82", 0x6A82, true},
    {"security 98 04", 0x9804, false},
    {"wrong parameters 6B 00", 0x6B00, false},
    {"out of range 94 02", 0x9402, false},
    {"technical problem 6F 00", 0x6F00, false},
    {"memory problem 92 40", 0x9240, false},
    {"transport failure", 0, false},
}};

enum class Call { kConnectReader, kGetConfig, kReadZrn, kWriteZrn, kReadSms };

struct Decision {
    const char* name;
    Call call;
    std::uint16_t decidingFile;  // the path's last file
    std::size_t step;            // 0: MF, 1: the directory, 2: the file itself
    std::int32_t notFoundResult;
    std::int32_t failureResult;
};

std::string caseName(const Decision& d) {
    static const char* const kSteps[] = {"Mf", "Directory", "File"};
    return std::string(d.name) + kSteps[d.step];
}

// The result, and whether the host's buffers kept their fill where the
// export promises it on failure.
struct Outcome {
    std::int32_t result = 0;
    bool hostUntouched = true;
};

constexpr std::uint8_t kFill = 0xA5;
constexpr std::int32_t kSentinel = -77;

Outcome call(Call which, const Bytes& phonebook, std::int32_t contacts) {
    Outcome o;
    switch (which) {
        case Call::kConnectReader:
            o.result = ConnectReader(sim::kSimulatedHandle);
            break;
        case Call::kGetConfig: {
            std::vector<char> text(ZRN_CONFIG_TEXT_SIZE, static_cast<char>(kFill));
            o.result = GetConfig(text.data());
            o.hostUntouched = std::all_of(text.begin(), text.end(),
                                          [](char c) { return c == static_cast<char>(kFill); });
            break;
        }
        case Call::kReadZrn: {
            Bytes buffer(ZRN_PHONEBOOK_BUFFER_SIZE, kFill);
            std::int32_t count = kSentinel;
            std::int32_t length = kSentinel;
            o.result = ReadZRN(&count, &length, buffer.data());
            o.hostUntouched = count == kSentinel && length == kSentinel &&
                              std::all_of(buffer.begin(), buffer.end(),
                                          [](std::uint8_t b) { return b == kFill; });
            break;
        }
        case Call::kWriteZrn:
            o.result =
                WriteZRN(contacts, static_cast<std::int32_t>(phonebook.size()), phonebook.data());
            break;
        case Call::kReadSms: {
            // ReadSMS fills the host buffer as it goes: only the result and the card count.
            Bytes buffer(2 * 255 * ZRN_SMS_ELEMENT_SIZE, kFill);
            std::int32_t count = 0;
            std::int32_t length = 0;
            o.result = ReadSMS(&count, &length, buffer.data());
            break;
        }
    }
    return o;
}

// The number of the command that selects path step `step` of the first path
// to `file` in the call's conversation with the healthy card.
std::size_t commandNumberOf(const std::vector<sim::Exchange>& log, std::uint16_t file,
                            std::size_t step) {
    for (std::size_t i = 2; i < log.size(); ++i) {
        const Bytes& c = log[i].command;
        if (c.size() >= 7 && c[1] == kSelect && readBe16(&c[5]) == file) {
            return i + 1 - (2 - step);
        }
    }
    return 0;
}

class LayoutDecision : public ::testing::TestWithParam<Decision> {};

TEST_P(LayoutDecision, OnlyNotFoundIsAnAnswerEveryOtherFailureIsACardFailure) {
    const Decision& d = GetParam();
    const sim::CardImage sample = sim::extendedSample();
    Bytes phonebook;
    std::int32_t contacts = 0;
    std::vector<sim::Exchange> healthy;
    {
        CardRun run(sample);
        ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
        const StreamRead read = checkedReadZrn();
        ASSERT_EQ(read.result, 0);
        phonebook = read.stream;
        contacts = read.count;
        run.card().clearLog();
        ASSERT_EQ(call(d.call, phonebook, contacts).result, 0);
        healthy = run.card().log();
    }
    const std::size_t number = commandNumberOf(healthy, d.decidingFile, d.step);
    ASSERT_NE(number, 0u) << "the call sends no SELECT of " << std::hex << d.decidingFile;

    for (const FaultClass& fault : kFaults) {
        SCOPED_TRACE(std::string(fault.name) + " at command " + std::to_string(number));
        CardRun run(sample);
        if (d.call != Call::kConnectReader) {
            ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
            run.card().clearLog();
        }
        if (fault.statusWord == 0) {
            run.card().failTransportAt(number, 0x80100016L);
        } else {
            run.card().failCommand(number, fault.statusWord);
        }
        const Outcome o = call(d.call, phonebook, contacts);
        EXPECT_EQ(o.result, fault.notFound ? d.notFoundResult : d.failureResult);
        EXPECT_TRUE(run.card().image() == sample) << "the card changed";
        if (!fault.notFound) {
            EXPECT_TRUE(o.hostUntouched) << "a host buffer was written by a failing call";
        }
    }
}

constexpr std::uint16_t kConfig = 0x9000;
constexpr std::uint16_t kIndex = 0x1F02;

std::vector<Decision> decisions() {
    std::vector<Decision> all;
    for (std::size_t step = 0; step < 3; ++step) {
        // A card without the configuration file is a standard card: its EF_ADN is
        // read, and the extended stream (led by GRP elements) is refused for it.
        all.push_back({"ConnectReader", Call::kConnectReader, kConfig, step, 0, 3});
        all.push_back({"GetConfig", Call::kGetConfig, kConfig, step, 0, 2});
        all.push_back({"ReadZRN", Call::kReadZrn, kConfig, step, 0, 2});
        all.push_back({"WriteZRN", Call::kWriteZrn, kConfig, step, 339, 2});
        // A card without the index keeps its extra messages unindexed.
        all.push_back({"ReadSMS", Call::kReadSms, kIndex, step, 0, 2});
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Selects, LayoutDecision, ::testing::ValuesIn(decisions()),
                         [](const auto& param) { return caseName(param.param); });

}  // namespace
}  // namespace zrn::fuzz
