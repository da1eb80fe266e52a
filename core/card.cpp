#include "core/card.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "channel/card_channel.h"
#include "channel/file_map.h"
#include "connection/geometry.h"
#include "phonebook/phonebook.h"
#include "results/messages.h"
#include "results/result_codes.h"
#include "sms/sms.h"
#include "zrn.h"

namespace zrn::core {

namespace {

using channel::cardChannel;

constexpr std::size_t kSmsRecordLength = 176;

// GSM 11.11 9.2.1: in the MF's selection response, byte 13 bit 8 set means
// CHV1 is disabled; byte 18 holds CHV1's remaining attempts in bits 1-4.
constexpr std::size_t kChvStatusEnd = 19;
constexpr std::size_t kFileCharacteristics = 13;
constexpr std::size_t kChv1Status = 18;

constexpr channel::StatusWord kWrongChv{0x98, 0x04};
constexpr channel::StatusWord kChvBlocked{0x98, 0x40};

Layout layoutOf(zrn::Layout layout) {
    switch (layout) {
        case zrn::Layout::kExtended:
            return Layout::kExtended;
        case zrn::Layout::kUnknown:
            return Layout::kUnknown;
        case zrn::Layout::kStandard:
            break;
    }
    return Layout::kStandard;
}

}  // namespace

Transport* useTransport(Transport* transport) {
    return cardChannel().setTransport(transport);
}

bool hasCard() {
    return cardChannel().HasCard();
}

void attachCard(CardHandle handle) {
    cardChannel().SetCardHandle(handle);
}

std::int32_t connect(CardHandle handle) {
    auto& channel = cardChannel();
    channel.SetCardHandle(handle);
    return ReadCardGeometry(channel, phonebookGeometry()) ? result::kOk : result::kUnrecognisedCard;
}

std::int32_t config(char* text) {
    auto& geometry = phonebookGeometry();
    const zrn::Layout layout = probeLayout(cardChannel(), geometry);
    if (layout == zrn::Layout::kUnknown) {
        return result::kCardError;
    }
    formatConfigText(geometry, layout == zrn::Layout::kExtended, text);
    return result::kOk;
}

std::int32_t config(std::string& text) {
    char buffer[ZRN_CONFIG_TEXT_SIZE + 1] = {};
    const std::int32_t rv = config(buffer);
    if (rv == result::kOk) {
        text = buffer;
    }
    return rv;
}

std::int32_t readPhonebook(std::int32_t& count, std::int32_t& length, std::uint8_t* buffer) {
    return phonebook::readPhonebook(cardChannel(), phonebookGeometry(), count, length, buffer);
}

std::int32_t writePhonebook(std::int32_t count, std::int32_t length, const std::uint8_t* stream) {
    return phonebook::writePhonebook(cardChannel(), phonebookGeometry(), count, length, stream);
}

std::int32_t readMessages(std::int32_t& count, std::int32_t& length, std::uint8_t* buffer) {
    return sms::readMessages(cardChannel(), count, length, buffer);
}

std::int32_t writeMessages(std::int32_t count, std::int32_t length, const std::uint8_t* stream) {
    return sms::writeMessages(cardChannel(), count, length, stream);
}

Stream readWholePhonebook() {
    const phonebook::PhonebookStream read =
        phonebook::readPhonebookStream(cardChannel(), phonebookGeometry());
    Stream s;
    s.result = read.result;
    if (read.result == result::kOk) {
        s.count = read.contactCount;
        s.bytes = read.joined();
    }
    return s;
}

std::int32_t writePhonebook(std::int32_t count, ByteView stream) {
    return phonebook::writePhonebookStream(cardChannel(), phonebookGeometry(), count, stream);
}

Stream readAllMessages() {
    std::vector<sms::MessageRecord> records;
    Stream s;
    s.result = sms::readMessageRecords(cardChannel(), records);
    if (s.result == result::kOk) {
        s.count = static_cast<std::int32_t>(records.size());
        s.bytes = sms::encodeMessageStream(records);
    }
    return s;
}

std::int32_t writeMessages(std::int32_t count, ByteView stream) {
    return writeMessages(count, static_cast<std::int32_t>(stream.size()), stream.data());
}

void configTextAsConnected(bool extended, char* text) {
    formatConfigText(phonebookGeometry(), extended, text);
}

CardRoom room() {
    auto& channel = cardChannel();
    const PhonebookGeometry& g = phonebookGeometry();
    CardRoom room;
    room.layout = layoutOf(probeLayout(channel, g));
    if (room.layout == Layout::kExtended) {
        room.nameSlotLength = g.nameSlotLength;
        room.numberSlotLength = g.numberSlotLength;
        room.adnCount = g.adnCount;
        room.nameSlotCount = g.nameSlotCount;
        room.numberSlotCount = g.numberSlotCount;
        room.groupCount = g.groupCount;
        room.groupNameLength = g.groupNameLength;
        room.adiCount = g.adiCount;
        room.adiRecordLength = g.adiRecordLength;
    } else if (room.layout == Layout::kStandard) {
        if (auto info = channel::DescribeFile(channel, channel::files::kAdn).info) {
            room.adnRecordLength = info->recordLength;
            room.adnRecordCount = info->recordCount();
        }
    }
    if (auto info = channel::DescribeFile(channel, channel::files::kSms).info) {
        room.smsRecords = info->fileSize / kSmsRecordLength;
    }
    if (auto info = channel::DescribeFile(channel, channel::files::kExtraMessages).info) {
        room.extraFile = true;
        room.extraRecords = info->fileSize / kSmsRecordLength;
    }
    std::uint8_t length = 0;
    room.extraIndex =
        channel::SelectPath(channel, channel::files::kExtraMessageIndex, 0, length).selected();
    return room;
}

namespace {

CardShape shapeOf(const PhonebookGeometry& g) {
    auto& channel = cardChannel();
    CardShape shape;
    shape.layout = layoutOf(probeLayout(channel, g));
    const auto adn = channel::DescribeFile(channel, channel::files::kAdn).info;
    if (shape.layout == Layout::kUnknown || !adn) {
        return shape;
    }
    shape.adnRecordLength = adn->recordLength;
    shape.adnCount = g.adnCount;
    shape.smsCount = g.smsCount;
    shape.whole = true;
    if (shape.layout != Layout::kExtended) {
        // The directory and the configuration's fields belong to the
        // extended layout only.
        return shape;
    }
    shape.phonebookDirectory = g.phonebookDirectory;
    shape.nameSlotLength = g.nameSlotLength;
    shape.numberSlotLength = g.numberSlotLength;
    shape.nameSlotCount = g.nameSlotCount;
    shape.numberSlotCount = g.numberSlotCount;
    shape.groupCount = g.groupCount;
    shape.groupNameLength = g.groupNameLength;
    shape.adiCount = g.adiCount;
    shape.adiRecordLength = g.adiRecordLength;
    shape.capacity6 = g.capacity6;
    shape.capacity7 = g.capacity7;
    shape.adiTypeFlags = g.adiTypeFlags;
    return shape;
}

}  // namespace

CardShape cardShape() {
    PhonebookGeometry g;
    if (!ReadCardGeometry(cardChannel(), g)) {
        return {};
    }
    return shapeOf(g);
}

CardShape connectedShape() {
    return shapeOf(phonebookGeometry());
}

std::string iccid() {
    return readIccid().value_or(std::string());
}

std::optional<std::string> readIccid() {
    auto& channel = cardChannel();
    const auto described = channel::DescribeFile(channel, channel::files::kIccid);
    if (!described) {
        return described.path.notFound() ? std::optional<std::string>("") : std::nullopt;
    }
    const channel::Response read = channel.readBinary(0, 10);
    if (!read.isOk()) {
        return std::nullopt;
    }
    std::string digits;
    for (const std::uint8_t byte :
         read.data().first(std::min<std::size_t>(read.data().size(), 10))) {
        for (const unsigned nibble : {byte & 0x0Fu, static_cast<unsigned>(byte >> 4)}) {
            if (nibble <= 9) {
                digits.push_back(static_cast<char>('0' + nibble));
            }
        }
    }
    return digits;
}

ChvStatus chv1Status() {
    auto& channel = cardChannel();
    ChvStatus status;
    const channel::Response selected = channel.select(channel::fid::kMasterFile);
    if (!selected.hasResponseWaiting() || selected.sw().sw2 == 0) {
        return status;
    }
    const channel::Response response = channel.getResponse(selected.sw().sw2);
    if (!response.isOk() || response.data().size() < kChvStatusEnd) {
        return status;
    }
    const ByteView mf = response.data();
    status.known = true;
    status.enabled = (mf[kFileCharacteristics] & 0x80) == 0;
    status.attemptsLeft = mf[kChv1Status] & 0x0F;
    return status;
}

VerifyResult verifyChv1(std::string_view pin) {
    channel::Apdu::ChvBlock block = channel::Apdu::chvBlock(pin);
    const channel::Response answer = cardChannel().verifyChv(1, block);
    std::fill(block.begin(), block.end(), std::uint8_t{0});
    VerifyResult result;
    result.status = answer.status().describe();
    if (!answer.delivered()) {
        result.verdict = Verification::kNotDelivered;
    } else if (answer.isOk()) {
        result.verdict = Verification::kAccepted;
    } else if (answer.sw() == kChvBlocked) {
        result.verdict = Verification::kBlocked;
    } else if (answer.sw() == kWrongChv) {
        result.verdict = Verification::kWrong;
    } else {
        result.verdict = Verification::kRefused;
    }
    return result;
}

CommandKind commandKind(ByteView command) {
    using Ins = channel::Apdu::Instruction;
    constexpr std::size_t kIns = 1;
    if (command.size() <= kIns) {
        return CommandKind::kOther;
    }
    switch (command[kIns]) {
        case Ins::kSelect:
            return CommandKind::kSelect;
        case Ins::kUpdateBinary:
            return CommandKind::kUpdateBinary;
        case Ins::kUpdateRecord:
            return CommandKind::kUpdateRecord;
        case Ins::kVerifyChv:
        case Ins::kChangeChv:
        case Ins::kDisableChv:
        case Ins::kEnableChv:
        case Ins::kUnblockChv:
            return CommandKind::kChv;
        default:
            return CommandKind::kOther;
    }
}

std::string errorMessage(std::int32_t code) {
    char buffer[ZRN_ERRMSG_SIZE + 1] = {};
    writeErrorMessage(code, buffer);
    buffer[ZRN_ERRMSG_SIZE] = '\0';
    return std::string(buffer, strnlen(buffer, ZRN_ERRMSG_SIZE));
}

}  // namespace zrn::core
