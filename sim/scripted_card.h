#pragma once

#include <string>
#include <vector>

#include "sim/virtual_card.h"

namespace zrn::sim {

// Replays a fixed conversation: each step names the exact command expected
// and the answer to give. The first mismatch is remembered with the step that
// failed, and every later command is answered 6F 00.
class ScriptedCard : public VirtualCard {
  public:
    struct Step {
        std::string command;   // hex
        std::string response;  // hex; empty with transportError set fails the exchange
        long transportError = 0;
    };

    explicit ScriptedCard(std::vector<Step> steps);

    long transmit(ByteView command, Bytes& response) override;

    // "" when every step was played exactly as scripted, else what went wrong.
    std::string verify() const;
    std::size_t played() const { return next_; }

  private:
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    std::string failure_;
};

}  // namespace zrn::sim
