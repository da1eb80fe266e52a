#include "fuzz/harness/card_recipe.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "fuzz/harness/byte_source.h"
#include "sim/card_builder.h"

namespace zrn::fuzz {

namespace {

namespace files = sim::files;

constexpr std::uint8_t kExtendedFlag = 0x01;
constexpr std::uint8_t kSecondDirectoryFlag = 0x02;
constexpr std::uint8_t kExtraMessagesFlag = 0x04;
constexpr std::uint8_t kExtraIndexFlag = 0x08;
constexpr std::uint8_t kOptionFileFlag = 0x10;

// The name and number files are kept small enough for fast runs; the
// configuration may still claim more slots than they hold.
constexpr std::size_t kMaxSlotFileSize = 32768;
constexpr std::size_t kMaxGroupRecords = 40;
constexpr std::size_t kChunkSelectors = 10;
constexpr std::size_t kMaxChunkLength = 255;

struct Header {
    std::uint8_t flags = 0;
    std::array<std::uint8_t, sim::kConfigFileLength> config{};
    std::uint8_t option = 0;
    std::uint8_t adiRecordLength = 0;
    std::uint8_t groupRecordLength = 0;
    std::uint8_t adnRecords = 0;
    std::uint8_t adnRecordLength = 0;
    std::uint8_t smsRecords = 0;
    std::uint8_t extraRecords = 0;
    std::uint8_t messageRecordLength = 0;
    std::uint8_t indexDelta = 0;  // two's complement

    bool extended() const { return (flags & kExtendedFlag) != 0; }
    std::uint16_t directory() const {
        return (flags & kSecondDirectoryFlag) != 0 ? files::kSecondDirectory : files::kTelecom;
    }
    bool hasExtraMessages() const { return (flags & kExtraMessagesFlag) != 0 && extraRecords > 0; }
};

Header readHeader(ByteSource& in) {
    Header h;
    h.flags = in.u8();
    if (h.extended()) {
        for (auto& b : h.config) {
            b = in.u8();
        }
        h.option = in.u8();
        h.adiRecordLength = in.u8();
        h.groupRecordLength = in.u8();
    }
    h.adnRecords = in.u8();
    h.adnRecordLength = in.u8();
    h.smsRecords = in.u8();
    h.extraRecords = in.u8();
    h.messageRecordLength = in.u8();
    h.indexDelta = in.u8();
    return h;
}

void writeHeader(const Header& h, Bytes& out) {
    out.push_back(h.flags);
    if (h.extended()) {
        out.insert(out.end(), h.config.begin(), h.config.end());
        out.push_back(h.option);
        out.push_back(h.adiRecordLength);
        out.push_back(h.groupRecordLength);
    }
    out.insert(out.end(), {h.adnRecords, h.adnRecordLength, h.smsRecords, h.extraRecords,
                           h.messageRecordLength, h.indexDelta});
}

std::uint16_t clampSlotCount(std::uint16_t count, std::uint8_t slotLength) {
    if (slotLength == 0) {
        return count;
    }
    return static_cast<std::uint16_t>(std::min<std::size_t>(count, kMaxSlotFileSize / slotLength));
}

sim::ExtendedGeometry geometryOf(const Header& h) {
    const auto& c = h.config;
    sim::ExtendedGeometry g;
    g.directory = h.directory();
    g.nameSlotLength = c[0];
    g.numberSlotLength = c[1];
    g.adnCount = readBe16(&c[2]);
    g.nameSlotCount = clampSlotCount(readBe16(&c[4]), c[0]);
    g.numberSlotCount = clampSlotCount(readBe16(&c[6]), c[1]);
    g.groupCount = static_cast<std::uint8_t>(std::min<std::size_t>(c[8], kMaxGroupRecords));
    g.groupNameLength = std::min<std::uint8_t>(c[10], 254);
    g.adiCount = std::min<std::uint16_t>(readBe16(&c[11]), 255);
    g.adiRecordLength = c[13] == 0 ? std::uint8_t{1} : c[13];
    g.optionFlags = h.option;
    g.adnRecords = h.adnRecords;
    g.smsRecords = h.smsRecords;
    g.extraMessageCount = h.hasExtraMessages() ? h.extraRecords : 0;
    g.extraMessageIndex = (h.flags & kExtraIndexFlag) != 0;
    return g;
}

void resizeRecords(sim::CardImage& image, std::initializer_list<std::uint16_t> path,
                   std::uint8_t recordLength) {
    const sim::SimFile* file = image.find(path);
    if (file == nullptr || recordLength == 0 || recordLength == file->recordLength) {
        return;
    }
    image.putLinearFixed(path, recordLength, file->recordCount());
}

void resizeIndex(sim::CardImage& image, const Header& h) {
    sim::SimFile* index = image.find({files::kTelecom, files::kExtraMessageIndex});
    if (index == nullptr) {
        return;
    }
    const int length = h.extraRecords + static_cast<std::int8_t>(h.indexDelta);
    index->data.assign(static_cast<std::size_t>(std::max(length, 0)), 0x00);
}

sim::CardImage skeletonOf(const Header& h) {
    sim::CardImage image;
    if (h.extended()) {
        const sim::ExtendedGeometry g = geometryOf(h);
        image = sim::buildExtendedCard(g);
        image.putTransparent({g.directory, files::kConfig},
                             Bytes(h.config.begin(), h.config.end()));
        if ((h.flags & kOptionFileFlag) != 0) {
            image.remove({files::kOption});
        }
        resizeRecords(image, {g.directory, files::kAdi}, h.adiRecordLength);
        resizeRecords(image, {g.directory, files::kGroup}, h.groupRecordLength);
    } else {
        sim::StandardCardOptions options;
        options.adnCount = h.adnRecords;
        options.smsCount = h.smsRecords;
        options.extraMessageCount = h.hasExtraMessages() ? h.extraRecords : 0;
        options.extraMessageIndex = (h.flags & kExtraIndexFlag) != 0;
        options.optionFile = (h.flags & kOptionFileFlag) != 0;
        image = sim::buildStandardCard(options);
    }
    resizeRecords(image, {files::kTelecom, files::kAdn}, h.adnRecordLength);
    resizeRecords(image, {files::kTelecom, files::kSms}, h.messageRecordLength);
    resizeRecords(image, {files::kTelecom, files::kExtraMessages}, h.messageRecordLength);
    resizeIndex(image, h);
    return image;
}

sim::SimFile* chunkFile(sim::CardImage& image, std::uint16_t directory, std::size_t selector) {
    switch (selector) {
        case 0:
            return image.find({directory, files::kName});
        case 1:
            return image.find({directory, files::kNumber});
        case 2:
            return image.find({directory, files::kAdi});
        case 3:
            return image.find({directory, files::kGroup});
        case 4:
            return image.find({files::kTelecom, files::kAdn});
        case 5:
            return image.find({files::kTelecom, files::kSms});
        case 6:
            return image.find({files::kTelecom, files::kExtraMessages});
        case 7:
            return image.find({files::kTelecom, files::kExtraMessageIndex});
        case 8:
            return image.find({files::kOption});
        default:
            return image.find({directory, files::kConfig});
    }
}

void applyChunks(ByteSource& in, sim::CardImage& image, std::uint16_t directory) {
    while (!in.empty()) {
        const std::size_t selector = in.u8() % kChunkSelectors;
        const std::uint16_t offset = in.u16();
        const ByteView bytes = in.take(in.u8());
        sim::SimFile* file = chunkFile(image, directory, selector);
        if (file == nullptr || file->data.empty()) {
            continue;
        }
        std::size_t at = offset % file->data.size();
        const std::size_t n = std::min(bytes.size(), file->data.size() - at);
        std::copy_n(bytes.begin(), n, file->data.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

Header headerOf(const sim::CardImage& image) {
    Header h;
    const bool under5F00 = image.find({files::kSecondDirectory, files::kConfig}) != nullptr;
    const std::uint16_t directory = under5F00 ? files::kSecondDirectory : files::kTelecom;
    const sim::SimFile* config = image.find({directory, files::kConfig});
    const sim::SimFile* option = image.find({files::kOption});
    if (config != nullptr) {
        h.flags |= kExtendedFlag;
        if (under5F00) {
            h.flags |= kSecondDirectoryFlag;
        }
        std::copy_n(config->data.begin(), std::min(config->data.size(), h.config.size()),
                    h.config.begin());
        if (option == nullptr) {
            h.flags |= kOptionFileFlag;
        }
        if (option != nullptr && option->data.size() > 4) {
            h.option = option->data[4];
        }
        if (const auto* adi = image.find({directory, files::kAdi}); adi != nullptr) {
            h.adiRecordLength = adi->recordLength;
        }
        if (const auto* group = image.find({directory, files::kGroup}); group != nullptr) {
            h.groupRecordLength = group->recordLength;
        }
    } else if (option != nullptr) {
        h.flags |= kOptionFileFlag;
    }
    auto countOf = [](const sim::SimFile* file) {
        return static_cast<std::uint8_t>(
            file == nullptr ? 0 : std::min<std::size_t>(file->recordCount(), 255));
    };
    const auto* adn = image.find({files::kTelecom, files::kAdn});
    h.adnRecords = countOf(adn);
    h.adnRecordLength = adn == nullptr ? 0 : adn->recordLength;
    const auto* sms = image.find({files::kTelecom, files::kSms});
    h.smsRecords = countOf(sms);
    h.messageRecordLength = sms == nullptr ? 0 : sms->recordLength;
    const auto* extra = image.find({files::kTelecom, files::kExtraMessages});
    h.extraRecords = countOf(extra);
    if (extra != nullptr) {
        h.flags |= kExtraMessagesFlag;
    }
    if (const auto* index = image.find({files::kTelecom, files::kExtraMessageIndex});
        index != nullptr) {
        h.flags |= kExtraIndexFlag;
        h.indexDelta =
            static_cast<std::uint8_t>(static_cast<int>(index->data.size()) - h.extraRecords);
    }
    return h;
}

// Chunks that turn the skeleton's file into the image's file: one per run of
// differing bytes.
void appendChunks(std::uint8_t selector, const sim::SimFile* wanted, const sim::SimFile* skeleton,
                  Bytes& out) {
    if (wanted == nullptr || skeleton == nullptr) {
        return;
    }
    const std::size_t size = std::min(wanted->data.size(), skeleton->data.size());
    std::size_t i = 0;
    while (i < size) {
        if (wanted->data[i] == skeleton->data[i]) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < size && end - i < kMaxChunkLength &&
               wanted->data[end] != skeleton->data[end]) {
            ++end;
        }
        out.push_back(selector);
        out.push_back(static_cast<std::uint8_t>(i >> 8));
        out.push_back(static_cast<std::uint8_t>(i));
        out.push_back(static_cast<std::uint8_t>(end - i));
        out.insert(out.end(), wanted->data.begin() + static_cast<std::ptrdiff_t>(i),
                   wanted->data.begin() + static_cast<std::ptrdiff_t>(end));
        i = end;
    }
}

}  // namespace

std::optional<sim::CardImage> cardFromRecipe(ByteView recipe) {
    ByteSource in(recipe);
    const Header header = readHeader(in);
    try {
        sim::CardImage image = skeletonOf(header);
        applyChunks(in, image, header.directory());
        return image;
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

Bytes recipeOf(const sim::CardImage& image) {
    const Header header = headerOf(image);
    Bytes out;
    writeHeader(header, out);
    sim::CardImage wanted = image;
    sim::CardImage skeleton = skeletonOf(header);
    for (std::uint8_t selector = 0; selector < kChunkSelectors; ++selector) {
        appendChunks(selector, chunkFile(wanted, header.directory(), selector),
                     chunkFile(skeleton, header.directory(), selector), out);
    }
    return out;
}

}  // namespace zrn::fuzz
