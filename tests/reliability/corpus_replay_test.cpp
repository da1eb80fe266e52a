#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/harness/card_recipe.h"
#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "sim/samples.h"

namespace zrn::fuzz {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(ZRN_SOURCE_DIR) / "fuzz" / "corpus";

struct ContractBroken : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void throwOnViolation(const std::string& what) {
    throw ContractBroken(what);
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> inputsOf(const std::string& target) {
    std::vector<fs::path> inputs;
    if (fs::is_directory(kCorpus / target)) {
        for (const auto& entry : fs::directory_iterator(kCorpus / target)) {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

}  // namespace

// Names the target in test output.
void PrintTo(const Target& target, std::ostream* os) {
    *os << target.name;
}

namespace {

class CorpusReplay : public ::testing::TestWithParam<Target> {
  protected:
    void SetUp() override { setViolationHandler(throwOnViolation); }
    void TearDown() override { setViolationHandler(nullptr); }
};

// Every kept input, the fuzzer's past findings (regression-*) among them,
// still keeps every promise the target checks.
TEST_P(CorpusReplay, EveryKeptInputKeepsTheContracts) {
    const Target& target = GetParam();
    const auto inputs = inputsOf(target.name);
    ASSERT_FALSE(inputs.empty()) << "no corpus for " << target.name;
    for (const fs::path& input : inputs) {
        try {
            target.run(readFile(input));
        } catch (const ContractBroken& broken) {
            ADD_FAILURE() << input.filename().string() << ": " << broken.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay,
                         ::testing::ValuesIn(targets().begin(), targets().end()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Corpus, EveryDirectoryBelongsToATarget) {
    for (const auto& entry : fs::directory_iterator(kCorpus)) {
        EXPECT_NE(findTarget(entry.path().filename().string()), nullptr)
            << entry.path() << " is the corpus of no target";
    }
}

// The seeds describe the samples exactly, so the fuzzer starts from real cards.
TEST(CardRecipe, DescribesBothSamplesExactly) {
    for (const sim::CardImage& sample : {sim::extendedSample(), sim::standardSample()}) {
        const auto card = cardFromRecipe(recipeOf(sample));
        ASSERT_TRUE(card.has_value());
        EXPECT_EQ(changedFiles(sample, *card), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace zrn::fuzz
