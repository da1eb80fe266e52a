// The writing exports over fuzzed host streams, on honest cards of several
// geometries: a refused stream changes nothing, an accepted one reads back.
#include <algorithm>

#include "fuzz/harness/byte_source.h"
#include "fuzz/harness/checked_calls.h"
#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "sim/card_builder.h"
#include "sim/samples.h"

namespace zrn::fuzz {

namespace {

struct ExtendedPreset {
    sim::CardImage image;
    bool withinFieldWidths = true;
};

sim::ExtendedGeometry geometry(std::uint8_t l, std::uint8_t n, std::uint16_t a, std::uint16_t m,
                               std::uint16_t t, std::uint8_t k, std::uint8_t g, std::uint16_t q,
                               std::uint8_t r, std::uint8_t option) {
    sim::ExtendedGeometry geo;
    geo.nameSlotLength = l;
    geo.numberSlotLength = n;
    geo.adnCount = a;
    geo.nameSlotCount = m;
    geo.numberSlotCount = t;
    geo.groupCount = k;
    geo.groupNameLength = g;
    geo.adiCount = q;
    geo.adiRecordLength = r;
    geo.optionFlags = option;
    geo.adnRecords = 5;
    geo.smsRecords = 5;
    return geo;
}

const ExtendedPreset& extendedPreset(std::uint8_t which) {
    static const std::vector<ExtendedPreset> kPresets = [] {
        std::vector<ExtendedPreset> presets;
        presets.push_back({sim::extendedSample(), true});
        presets.push_back(
            {sim::buildExtendedCard(geometry(20, 14, 10, 10, 30, 3, 6, 5, 20, 0x21))});
        // At the field widths: name length 31, number length 31, ADI text 63, G = 30.
        presets.push_back(
            {sim::buildExtendedCard(geometry(35, 34, 20, 20, 60, 8, 30, 10, 66, 0x01))});
        // Past them: the writer must bound every slot by its image.
        presets.push_back(
            {sim::buildExtendedCard(geometry(60, 60, 10, 10, 20, 9, 40, 5, 100, 0x12)), false});
        presets.push_back(
            {sim::buildExtendedCard(geometry(24, 20, 5, 10, 20, 0, 12, 0, 20, 0x00))});
        auto under5F00 = geometry(30, 24, 16, 16, 48, 8, 12, 20, 40, 0x11);
        under5F00.directory = sim::files::kSecondDirectory;
        presets.push_back({sim::buildExtendedCard(under5F00)});
        return presets;
    }();
    return kPresets[which % kPresets.size()];
}

const sim::CardImage& standardPreset(std::uint8_t which) {
    static const std::vector<sim::CardImage> kPresets = [] {
        auto card = [](std::size_t records, std::uint8_t recordLength) {
            sim::StandardCardOptions options;
            options.adnCount = records;
            options.adnRecordLength = recordLength;
            return sim::buildStandardCard(options);
        };
        return std::vector<sim::CardImage>{sim::standardSample(), card(5, 14), card(60, 40),
                                           card(1, 20)};
    }();
    return kPresets[which % kPresets.size()];
}

const sim::CardImage& messagePreset(std::uint8_t which) {
    static const std::vector<sim::CardImage> kPresets = [] {
        auto card = [](std::size_t extra, bool index) {
            sim::StandardCardOptions options;
            options.smsCount = 6;
            options.extraMessageCount = extra;
            options.extraMessageIndex = index;
            return sim::buildStandardCard(options);
        };
        sim::CardImage shortIndex = card(8, true);
        shortIndex.find({sim::files::kTelecom, sim::files::kExtraMessageIndex})->data.resize(3);
        return std::vector<sim::CardImage>{sim::extendedSample(), sim::standardSample(),
                                           card(6, false), shortIndex};
    }();
    return kPresets[which % kPresets.size()];
}

bool isCardFailure(std::int32_t result) {
    return result == 1 || result == 2 || (result >= 331 && result <= 338) ||
           (result >= 360 && result <= 374);
}

void requireUnchanged(const sim::SimCard& card, const sim::CardImage& before, std::int32_t result,
                      const char* what) {
    require(!sentUpdate(card) && card.image() == before,
            std::string(what) + " refused the stream with " + std::to_string(result) +
                " but changed the card");
}

// A phone book read back and written again must come back byte for byte.
void requireStableRoundTrip(const char* what) {
    const StreamRead first = checkedReadZrn();
    if (first.result != 0) {
        return;  // larger than the host buffer
    }
    const std::int32_t again = checkedWriteZrn(first.count, first.stream);
    require(again == 0,
            std::string(what) + ": writing back what was read gave " + std::to_string(again));
    const StreamRead second = checkedReadZrn();
    require(second.result == 0 && second.stream == first.stream,
            std::string(what) + ": the phone book read, written and read again changed");
}

void runWriteZrn(const sim::CardImage& image, bool stable, std::int32_t count, ByteView stream,
                 const char* what) {
    CardRun run(image);
    require(checkedConnect() == 0, std::string(what) + ": the preset card does not connect");
    run.card().clearLog();
    const std::int32_t result = checkedWriteZrn(count, stream);
    if (isStreamRefusal(result)) {
        requireUnchanged(run.card(), image, result, what);
        return;
    }
    if (stable) {
        require(!isCardFailure(result),
                std::string(what) + " failed on an honest card with " + std::to_string(result));
        if (result == 0) {
            requireStableRoundTrip(what);
        }
    }
}

}  // namespace

void runWriteZrnExtended(ByteView input) {
    ByteSource in(input);
    const ExtendedPreset& preset = extendedPreset(in.u8());
    runWriteZrn(preset.image, preset.withinFieldWidths, 0, in.rest(), "WriteZRN (extended)");
}

void runWriteZrnStandard(ByteView input) {
    ByteSource in(input);
    const sim::CardImage& image = standardPreset(in.u8());
    const auto count = static_cast<std::int16_t>(in.u16());
    runWriteZrn(image, true, count, in.rest(), "WriteZRN (standard)");
}

void runWriteSms(ByteView input) {
    ByteSource in(input);
    const sim::CardImage& image = messagePreset(in.u8());
    const std::int32_t count = in.u8();
    CardRun run(image);
    require(checkedConnect() == 0, "WriteSMS: the preset card does not connect");
    run.card().clearLog();
    const std::int32_t result = checkedWriteSms(count, in.rest());
    require(result == 0 || result == 4,
            "WriteSMS failed on an honest card with " + std::to_string(result));
    if (result == 4) {
        requireUnchanged(run.card(), image, result, "WriteSMS");
        return;
    }
    const StreamRead back = checkedReadSms(storedMessageBound(run.card().image()));
    require(back.result == 0, "ReadSMS after WriteSMS gave " + std::to_string(back.result));
}

}  // namespace zrn::fuzz
