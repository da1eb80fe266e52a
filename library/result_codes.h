#pragma once

#include <cstdint>

namespace zrn {

// Result codes the exports return. Each owning module names the exact tests
// behind its codes; this is the one list the host sees.
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
constexpr std::int32_t kAdiOverCapacity = 349;
}  // namespace result

}  // namespace zrn
