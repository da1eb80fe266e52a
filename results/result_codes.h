#pragma once

// The result codes of the seven exports, and the one table that says, for
// each code, its message, what it means, which exports return it and whether
// the card may already have been changed when it comes. GetErrMsg, the tool's
// explanations, the fuzz contracts and the README's table all read it.

#include <cstdint>
#include <span>
#include <string_view>

namespace zrn {

namespace result {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNoCard = 1;            // no handle held; ConnectReader: handle 0
constexpr std::int32_t kNoCardSms = -1;        // ReadSMS, WriteSMS without a handle
constexpr std::int32_t kCardError = 2;         // a card read or write failed
constexpr std::int32_t kUnrecognisedCard = 3;  // ConnectReader: the card cannot be read
constexpr std::int32_t kBadArgument = 4;       // a parameter or the data does not fit
constexpr std::int32_t kSmsNoMemory = 305;
constexpr std::int32_t kNoAdi = 318;     // has a message; returned by no export
constexpr std::int32_t kInternal = 319;  // standard layout: EF_ADN cannot be read

// WriteZRN, extended layout: preparing the images of the number and name
// files, before anything is written.
constexpr std::int32_t kNumberFileUnselectable = 331;
constexpr std::int32_t kNumberResponseNoMemory = 332;
constexpr std::int32_t kNumberResponseFailed = 333;
constexpr std::int32_t kNumberImageNoMemory = 334;
constexpr std::int32_t kNameFileUnselectable = 335;
constexpr std::int32_t kNameResponseNoMemory = 336;
constexpr std::int32_t kNameResponseFailed = 337;
constexpr std::int32_t kNameImageNoMemory = 338;

// WriteZRN: refusals of the stream, before anything is written.
constexpr std::int32_t kNotAContact = 339;
constexpr std::int32_t kTooManyContacts = 340;
constexpr std::int32_t kBadAdn = 341;
constexpr std::int32_t kAdnRegionFull = 342;
constexpr std::int32_t kBadMbl = 343;
constexpr std::int32_t kBadHme = 344;
constexpr std::int32_t kBadOfe = 345;
constexpr std::int32_t kBadOtr = 346;
constexpr std::int32_t kBadAdi = 347;
constexpr std::int32_t kNoAdiOnCard = 348;
constexpr std::int32_t kAdiOverCapacity = 349;
constexpr std::int32_t kContactNotClosed = 351;
constexpr std::int32_t kNoName = 352;
constexpr std::int32_t kThirdAdi = 354;

// WriteZRN, extended layout: writing back the name file, then the number file.
constexpr std::int32_t kNameWriteUnselectable = 360;
constexpr std::int32_t kNameWriteResponseNoMemory = 361;
constexpr std::int32_t kNameWriteResponseFailed = 362;
constexpr std::int32_t kNameWriteFullPieceFailed = 363;
constexpr std::int32_t kNameWriteLastPieceFailed = 364;
constexpr std::int32_t kNumberWriteUnselectable = 370;
constexpr std::int32_t kNumberWriteResponseNoMemory = 371;
constexpr std::int32_t kNumberWriteResponseFailed = 372;
constexpr std::int32_t kNumberWriteFullPieceFailed = 373;
constexpr std::int32_t kNumberWriteLastPieceFailed = 374;

// The exports, as bits of a set.
enum Export : std::uint8_t {
    kConnectReader = 1u << 0,
    kGetConfig = 1u << 1,
    kGetErrMsg = 1u << 2,
    kReadZRN = 1u << 3,
    kWriteZRN = 1u << 4,
    kReadSMS = 1u << 5,
    kWriteSMS = 1u << 6,
};
constexpr std::uint8_t kEveryExport = 0x7F;  // all seven bits
constexpr std::size_t kExportCount = 7;

// What kind of outcome a code reports.
enum class Kind : std::uint8_t {
    kSuccess,
    kNoHandle,     // no card handle is held
    kCardFailure,  // a card command, or working memory, failed
    kRefusal,      // the arguments or the data were refused; nothing was written
    kMessageOnly,  // has a message but no export returns it
};

struct Row {
    std::int32_t code;
    // The GetErrMsg text in code page 936, without its zero; empty for a code
    // that has none (GetErrMsg answers those with the unknown-error text).
    std::string_view message;
    std::string_view gloss;  // English
    std::uint8_t exports;    // the Export bits of the exports that return it
    Kind kind;
    // A failure that can come after a writing export has changed the card.
    bool mayFollowWrite;

    bool returnedBy(Export which) const { return (exports & which) != 0; }
};

// Every code, in ascending order except that -1 follows 1.
std::span<const Row> table();
// The row of `code`, or nullptr for a code outside the table.
const Row* find(std::int32_t code);

// The exports in the order of their bits (connection, phone book, messages),
// and the name of one.
std::span<const Export> exportsInOrder();
std::string_view exportName(Export which);

// The message and gloss of a code outside the table, or of one without a message.
constexpr std::string_view kUnknownMessage = "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3.";  // 未知错误.
constexpr std::string_view kUnknownGloss = "unknown error";

}  // namespace result

}  // namespace zrn
