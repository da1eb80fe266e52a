#include <cstring>

#include "sim/virtual_card.h"

namespace zrn::sim {

namespace {
// pcsc-lite's values, kept here so that the simulator needs no PC/SC headers.
constexpr long kInvalidHandle = static_cast<long>(0x80100003L);
constexpr long kInsufficientBuffer = static_cast<long>(0x80100008L);
constexpr long kNoSmartcard = static_cast<long>(0x8010000CL);

VirtualCard* gCard = nullptr;
CardHandle gHandle = 0;
}  // namespace

void insertCard(VirtualCard* card, CardHandle handle) {
    gCard = card;
    gHandle = card != nullptr ? handle : 0;
}

VirtualCard* insertedCard() {
    return gCard;
}

long exchangeWithSimulator(CardHandle handle, const std::uint8_t* command,
                           std::uint32_t commandLength, std::uint8_t* response,
                           std::uint32_t* responseLength) {
    if (gCard == nullptr) {
        return kNoSmartcard;
    }
    if (handle != gHandle) {
        return kInvalidHandle;
    }
    Bytes answer;
    const long rv = gCard->transmit(ByteView(command, commandLength), answer);
    if (rv != 0) {
        return rv;
    }
    if (answer.size() > *responseLength) {
        return kInsufficientBuffer;
    }
    if (!answer.empty()) {
        std::memcpy(response, answer.data(), answer.size());
    }
    *responseLength = static_cast<std::uint32_t>(answer.size());
    return 0;
}

}  // namespace zrn::sim
