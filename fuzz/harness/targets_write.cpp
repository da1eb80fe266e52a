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

// A small extended-layout card (5 EF_ADN and 5 EF_SMS records) of the
// geometry `adjust` sets.
template <typename Adjust>
sim::CardImage extendedCard(Adjust adjust) {
    sim::ExtendedGeometry g;
    g.adnRecords = 5;
    g.smsRecords = 5;
    adjust(g);
    return sim::buildExtendedCard(g);
}

const ExtendedPreset& extendedPreset(std::uint8_t which) {
    using G = sim::ExtendedGeometry;
    static const std::vector<ExtendedPreset> kPresets = [] {
        std::vector<ExtendedPreset> presets;
        presets.push_back({sim::extendedSample()});
        presets.push_back({extendedCard([](G& g) {
            g.nameSlotLength = 20;
            g.numberSlotLength = 14;
            g.adnCount = 10;
            g.nameSlotCount = 10;
            g.numberSlotCount = 30;
            g.groupCount = 3;
            g.groupNameLength = 6;
            g.adiCount = 5;
            g.adiRecordLength = 20;
            g.optionFlags = 0x21;
        })});
        // At the field widths: name length 31, number length 31, ADI text 63, G = 30.
        presets.push_back({extendedCard([](G& g) {
            g.nameSlotLength = 35;
            g.numberSlotLength = 34;
            g.adnCount = 20;
            g.nameSlotCount = 20;
            g.numberSlotCount = 60;
            g.groupCount = 8;
            g.groupNameLength = 30;
            g.adiCount = 10;
            g.adiRecordLength = 66;
            g.optionFlags = 0x01;
        })});
        // Past them: the writer must bound every slot by its field.
        presets.push_back({extendedCard([](G& g) {
                               g.nameSlotLength = 60;
                               g.numberSlotLength = 60;
                               g.adnCount = 10;
                               g.nameSlotCount = 10;
                               g.numberSlotCount = 20;
                               g.groupCount = 9;
                               g.groupNameLength = 40;
                               g.adiCount = 5;
                               g.adiRecordLength = 100;
                               g.optionFlags = 0x12;
                           }),
                           false});
        // No groups and no ADI file.
        presets.push_back({extendedCard([](G& g) {
            g.nameSlotLength = 24;
            g.numberSlotLength = 20;
            g.adnCount = 5;
            g.nameSlotCount = 10;
            g.numberSlotCount = 20;
            g.groupCount = 0;
            g.adiCount = 0;
            g.optionFlags = 0x00;
        })});
        presets.push_back({extendedCard([](G& g) {
            g.directory = sim::files::kSecondDirectory;
            g.nameSlotLength = 30;
            g.numberSlotLength = 24;
            g.adnCount = 16;
            g.nameSlotCount = 16;
            g.numberSlotCount = 48;
            g.groupCount = 8;
            g.groupNameLength = 12;
            g.adiCount = 20;
            g.adiRecordLength = 40;
            g.optionFlags = 0x11;
        })});
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
