#include "cli/command_counter.h"

namespace zrn::cli {

namespace {
CountingTransport* gLiveCounter = nullptr;
}  // namespace

CountingTransport::CountingTransport(core::Transport& inner) : TransportDecorator(inner) {
    gLiveCounter = this;
}

CountingTransport::~CountingTransport() {
    if (gLiveCounter == this) {
        gLiveCounter = nullptr;
    }
}

long CountingTransport::transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                                 std::uint32_t& responseLength) {
    const long rv = forward(handle, command, response, responseLength);
    ++sent_;
    if (observer_) {
        observer_(sent_);
    }
    return rv;
}

std::size_t commandsSent() {
    return gLiveCounter != nullptr ? gLiveCounter->sent() : 0;
}

void setCommandObserver(CommandObserver observer) {
    if (gLiveCounter != nullptr) {
        gLiveCounter->setObserver(std::move(observer));
    }
}

}  // namespace zrn::cli
