#pragma once

#include <functional>

#include "channel/bytes.h"
#include "sim/sim_card.h"
#include "sim/virtual_card.h"

namespace zrn::fuzz {

// A card that does what the honest card does, then answers otherwise: the
// rewrite sees each command with the honest response and may change it, or
// return a PC/SC error instead. The honest card's state and log are those of
// the commands as they were carried out.
class AnswerRewriter : public sim::VirtualCard {
  public:
    using Rewrite = std::function<long(ByteView command, Bytes& response)>;

    AnswerRewriter(sim::SimCard& honest, Rewrite rewrite)
        : honest_(honest), rewrite_(std::move(rewrite)) {}

    long transmit(ByteView command, Bytes& response) override {
        const long error = honest_.transmit(command, response);
        return error != 0 ? error : rewrite_(command, response);
    }

  private:
    sim::SimCard& honest_;
    Rewrite rewrite_;
};

}  // namespace zrn::fuzz
