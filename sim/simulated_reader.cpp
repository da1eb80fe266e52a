#include <cstring>

#include "channel/card_channel.h"
#include "sim/virtual_card.h"

namespace zrn::sim {

namespace {
// pcsc-lite's values, kept here so that the simulator needs no PC/SC headers.
constexpr long kInvalidHandle = static_cast<long>(0x80100003L);
constexpr long kInsufficientBuffer = static_cast<long>(0x80100008L);
constexpr long kNoSmartcard = static_cast<long>(0x8010000CL);

// The reader that insertCard fills, and the default transport before it.
struct ProcessReader {
    SimulatorTransport transport;
    channel::Transport* previous = nullptr;
    bool installed = false;
};

ProcessReader& processReader() {
    static ProcessReader reader;
    return reader;
}

}  // namespace

long SimulatorTransport::transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                                  std::uint32_t& responseLength) {
    if (card_ == nullptr) {
        return kNoSmartcard;
    }
    if (handle != handle_) {
        return kInvalidHandle;
    }
    Bytes answer;
    const long rv = card_->transmit(command, answer);
    if (rv != 0) {
        return rv;
    }
    if (answer.size() > responseLength) {
        return kInsufficientBuffer;
    }
    if (!answer.empty()) {
        std::memcpy(response, answer.data(), answer.size());
    }
    responseLength = static_cast<std::uint32_t>(answer.size());
    return 0;
}

void insertCard(VirtualCard* card, CardHandle handle) {
    ProcessReader& reader = processReader();
    reader.transport.insert(card, handle);
    if (card != nullptr && !reader.installed) {
        reader.previous = channel::setDefaultTransport(&reader.transport);
        reader.installed = true;
    } else if (card == nullptr && reader.installed) {
        channel::setDefaultTransport(reader.previous);
        reader.installed = false;
    }
}

VirtualCard* insertedCard() {
    return processReader().transport.card();
}

}  // namespace zrn::sim
