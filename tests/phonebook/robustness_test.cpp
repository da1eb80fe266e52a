// Streams the host got wrong: cut anywhere, or mutated at random. No call may
// crash, read outside the stream or touch the card unless it accepts the
// stream; what it accepts must read back.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "phonebook_support.h"

namespace zrn::test {
namespace {

sim::CardImage extendedCard() {
    const sim::ExtendedGeometry g = smallGeometry();
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putGroupName(image, g, 1, ascii("family"));
    sim::putNameSlot(image, g, 1, ascii("Ann"), false, {1});
    sim::putNumberSlot(image, g, 0, 1, sim::NumberType::kAdn, "123");
    sim::putNumberSlot(image, g, g.adnCount, 1, sim::NumberType::kMbl, "4567");
    sim::putAdiEntry(image, g, 0, 1, 0, false, ascii("note"));
    sim::putNameSlot(image, g, 2, hex("4E 2D"), true, {2, 8});
    sim::putAdiEntry(image, g, 1, 2, 1, false, ascii("other"));
    return image;
}

sim::CardImage standardCard() {
    sim::StandardCardOptions options;
    options.adnCount = 8;
    sim::CardImage image = sim::buildStandardCard(options);
    sim::putAdnRecord(image, 1, ascii("Ann"), "123");
    sim::putAdnRecord(image, 2, ascii("Bob"), "");
    sim::putAdnRecord(image, 4, {}, "4567");
    return image;
}

const std::set<std::int32_t> kExtendedResults{0,   339, 340, 341, 342, 343, 344, 345,
                                              346, 347, 348, 349, 351, 352, 354};
const std::set<std::int32_t> kStandardResults{0, 339, 340, 341, 351};

class HostStreams : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        extended_ = GetParam();
        original_ = extended_ ? extendedCard() : standardCard();
        card_ = std::make_unique<CardSession>(original_);
        const ReadResult read = card_->read();
        ASSERT_EQ(read.result, 0);
        stream_ = read.stream;
    }

    // Writes `stream`; a refusal must leave the card untouched, an acceptance
    // must leave a card that reads. Puts the original card back afterwards.
    void tryWrite(const Bytes& stream, const std::string& what) {
        const std::int32_t result = card_->write(stream);
        EXPECT_TRUE((extended_ ? kExtendedResults : kStandardResults).count(result))
            << what << ": result " << result;
        if (result != 0) {
            ++refused_;
            EXPECT_EQ(card_->image(), original_) << what << ": refused with " << result;
            return;
        }
        ++accepted_;
        EXPECT_EQ(card_->read().result, 0) << what;
        card_->sim().image() = original_;
    }

    bool extended_ = false;
    sim::CardImage original_;
    std::unique_ptr<CardSession> card_;
    Bytes stream_;
    int accepted_ = 0;
    int refused_ = 0;
};

TEST_P(HostStreams, CutAtEveryOffset) {
    for (std::size_t cut = 0; cut < stream_.size(); ++cut) {
        tryWrite(Bytes(stream_.begin(), stream_.begin() + static_cast<long>(cut)),
                 "cut at " + std::to_string(cut));
    }
    EXPECT_GT(accepted_, 1) << "cuts at element boundaries are whole streams";
    EXPECT_LT(accepted_, static_cast<int>(stream_.size()) / 4);
}

TEST_P(HostStreams, RandomMutations) {
    std::mt19937 random(GetParam() ? 3318 : 3517);
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    // Bytes that steer a parser: markers, tag letters, small and large lengths.
    const std::uint8_t interesting[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0xFF, 'N',  'C',
                                        'D',  'G',  'P',  'I',  'A',  'R',  0x14, 0x15};
    for (int round = 0; round < 300; ++round) {
        Bytes mutated = stream_;
        for (std::size_t edits = 1 + pick(3); edits > 0 && !mutated.empty(); --edits) {
            const std::size_t at = pick(mutated.size());
            switch (pick(4)) {
                case 0:
                    mutated[at] = static_cast<std::uint8_t>(pick(256));
                    break;
                case 1:
                    mutated[at] = interesting[pick(std::size(interesting))];
                    break;
                case 2:
                    mutated.erase(mutated.begin() + static_cast<long>(at));
                    break;
                default:
                    mutated.insert(mutated.begin() + static_cast<long>(at),
                                   interesting[pick(std::size(interesting))]);
            }
        }
        tryWrite(mutated, "mutation round " + std::to_string(round));
    }
    EXPECT_GT(accepted_, 20);
    EXPECT_GT(refused_, 100);
}

std::string layoutName(const ::testing::TestParamInfo<bool>& param) {
    return param.param ? "Extended" : "Standard";
}

INSTANTIATE_TEST_SUITE_P(Robustness, HostStreams, ::testing::Values(true, false), layoutName);

}  // namespace
}  // namespace zrn::test
