#include "results/result_codes.h"

#include <algorithm>
#include <array>

namespace zrn::result {

namespace {

constexpr std::uint8_t kPhonebookWrite = kWriteZRN;
constexpr std::uint8_t kSmsExports = kReadSMS | kWriteSMS;
constexpr std::uint8_t kCardExports = kConnectReader | kGetConfig | kReadZRN | kWriteZRN;
constexpr std::uint8_t kReadingAndWriting = kReadZRN | kWriteZRN | kReadSMS | kWriteSMS;

constexpr Row refusal(std::int32_t code, std::string_view gloss) {
    return {code, {}, gloss, kPhonebookWrite, Kind::kRefusal, false};
}
constexpr Row preparing(std::int32_t code, std::string_view gloss) {
    return {code, {}, gloss, kPhonebookWrite, Kind::kCardFailure, false};
}
constexpr Row writingBack(std::int32_t code, std::string_view gloss) {
    return {code, {}, gloss, kPhonebookWrite, Kind::kCardFailure, true};
}

// The messages are kept as their code page 936 bytes so that the host gets
// them unchanged whatever the compiler's source character set.
constexpr Row kRows[] = {
    {kOk, "\xCE\xDE\xB4\xED\xCE\xF3.",  // 无错误.
     "no error", kEveryExport, Kind::kSuccess, false},
    {kNoCard, "\xB6\xC1\xBF\xA8\xC6\xF7\xB4\xED\xCE\xF3.",  // 读卡器错误.
     "reader error: no card handle is held (ConnectReader: the handle is 0)", kCardExports,
     Kind::kNoHandle, false},
    {kNoCardSms, {}, "no card handle is held", kSmsExports, Kind::kNoHandle, false},
    {kCardError, "SIM\xBF\xA8\xB4\xED\xCE\xF3(\xB6\xC1\xA1\xA2\xD0\xB4\xBF\xA8\xB4\xED\xCE\xF3).",
     // SIM卡错误(读、写卡错误).
     "SIM card error (card read or write error)", kReadingAndWriting, Kind::kCardFailure, true},
    {kUnrecognisedCard, "SIM\xBF\xA8\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0.",  // SIM卡无法识别.
     "SIM card cannot be recognised: EF_ADN, EF_SMS, the configuration or the option file "
     "cannot be read",
     kConnectReader, Kind::kCardFailure, false},
    {kBadArgument, "\xCA\xFD\xBE\xDD\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3.",  // 数据参数错误.
     "data parameter error: a NULL buffer, a negative length or count, or messages that do not "
     "fit the card",
     kEveryExport & ~kConnectReader, Kind::kRefusal, false},
    // WriteSMS runs out of memory for the index after its EF_SMS records.
    {kSmsNoMemory,
     {},
     "the extra message file cannot be read, or no working memory",
     kSmsExports,
     Kind::kCardFailure,
     true},
    {kNoAdi,
     "SIM\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3(\xCE\xDE"
     "ADI).",  // SIM类型错误(无ADI).
     "SIM type error (no ADI)", 0, Kind::kMessageOnly, false},
    {kInternal, "Dll\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3.",  // Dll内部错误.
     "library internal error (standard layout: EF_ADN cannot be read or exceeds the host "
     "buffer)",
     kReadZRN, Kind::kCardFailure, false},
    preparing(kNumberFileUnselectable, "the number file cannot be selected"),
    preparing(kNumberResponseNoMemory, "no memory for the number file's selection response"),
    preparing(kNumberResponseFailed, "GET RESPONSE for the number file fails"),
    preparing(kNumberImageNoMemory, "no memory for the number file image"),
    preparing(kNameFileUnselectable, "the name file cannot be selected"),
    preparing(kNameResponseNoMemory, "no memory for the name file's selection response"),
    preparing(kNameResponseFailed, "GET RESPONSE for the name file fails"),
    preparing(kNameImageNoMemory, "no memory for the name file image"),
    refusal(kNotAContact, "the stream holds another element where a contact must begin"),
    refusal(kTooManyContacts, "more contacts than the card holds"),
    refusal(kBadAdn, "a general number is empty or too long"),
    refusal(kAdnRegionFull, "more general numbers than the card holds"),
    refusal(kBadMbl, "a mobile number is too long, or no number slot is left"),
    refusal(kBadHme, "a home number is too long, or no number slot is left"),
    refusal(kBadOfe, "an office number is too long, or no number slot is left"),
    refusal(kBadOtr, "an other number is too long, or no number slot is left"),
    refusal(kBadAdi, "a free-text entry does not fit an ADI record"),
    refusal(kNoAdiOnCard, "a free-text entry on a card without ADI entries"),
    {kAdiOverCapacity,
     "ADI\xD0\xC5\xCF\xA2\xCA\xFD\xC1\xBF\xB3\xAC\xB3\xF6\xBF\xA8\xC6\xAC\xC8\xDD\xC1\xBF.",
     // ADI信息数量超出卡片容量.
     "ADI entries exceed the card's capacity", kPhonebookWrite, Kind::kRefusal, false},
    refusal(kContactNotClosed, "a contact's elements do not end with its group element"),
    refusal(kNoName, "a contact does not start with its name, or the name is too long"),
    refusal(kThirdAdi, "a third free-text entry in one contact"),
    writingBack(kNameWriteUnselectable, "writing the name file: it cannot be selected"),
    writingBack(kNameWriteResponseNoMemory,
                "writing the name file: no memory for its selection response"),
    writingBack(kNameWriteResponseFailed, "writing the name file: GET RESPONSE fails"),
    writingBack(kNameWriteFullPieceFailed, "writing the name file: an UPDATE BINARY fails"),
    writingBack(kNameWriteLastPieceFailed, "writing the name file: the last UPDATE BINARY fails"),
    writingBack(kNumberWriteUnselectable, "writing the number file: it cannot be selected"),
    writingBack(kNumberWriteResponseNoMemory,
                "writing the number file: no memory for its selection response"),
    writingBack(kNumberWriteResponseFailed, "writing the number file: GET RESPONSE fails"),
    writingBack(kNumberWriteFullPieceFailed, "writing the number file: an UPDATE BINARY fails"),
    writingBack(kNumberWriteLastPieceFailed,
                "writing the number file: the last UPDATE BINARY fails"),
};

// Every text with its terminating zero must fit the 60 bytes GetErrMsg writes.
constexpr bool messagesFit() {
    return std::all_of(std::begin(kRows), std::end(kRows),
                       [](const Row& row) { return row.message.size() < 60; });
}
static_assert(messagesFit());

constexpr bool codesAreUnique() {
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        for (std::size_t j = i + 1; j < std::size(kRows); ++j) {
            if (kRows[i].code == kRows[j].code) {
                return false;
            }
        }
    }
    return true;
}
static_assert(codesAreUnique());

constexpr std::array<Export, kExportCount> kExportsInOrder = {
    kConnectReader, kGetConfig, kGetErrMsg, kReadZRN, kWriteZRN, kReadSMS, kWriteSMS};

}  // namespace

std::span<const Row> table() {
    return kRows;
}

const Row* find(std::int32_t code) {
    const auto it = std::find_if(std::begin(kRows), std::end(kRows),
                                 [code](const Row& row) { return row.code == code; });
    return it != std::end(kRows) ? &*it : nullptr;
}

std::span<const Export> exportsInOrder() {
    return kExportsInOrder;
}

std::string_view exportName(Export which) {
    switch (which) {
        case kConnectReader:
            return "ConnectReader";
        case kGetConfig:
            return "GetConfig";
        case kGetErrMsg:
            return "GetErrMsg";
        case kReadZRN:
            return "ReadZRN";
        case kWriteZRN:
            return "WriteZRN";
        case kReadSMS:
            return "ReadSMS";
        case kWriteSMS:
            return "WriteSMS";
    }
    return "?";
}

}  // namespace zrn::result
