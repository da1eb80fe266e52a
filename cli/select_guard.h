#pragma once

// A file that answered a SELECT in this session does not vanish from it: the
// card layer reads "not found" (94 04, 6A 82) as a fact about the card (no
// extended layout, no extra message store), so one such answer for a file
// the card has already shown would turn a glitch into a wrong backup that
// looks whole. Between the tool and the card this decorator turns that
// answer into a technical problem (6F 00), which every reader reports.

#include <cstdint>
#include <set>
#include <utility>

#include "core/card.h"

namespace zrn::cli {

class SelectGuard : public core::TransportDecorator {
  public:
    using TransportDecorator::TransportDecorator;
    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override;

  private:
    // The directory a selection starts from, and the file id selected there.
    using Place = std::pair<std::uint16_t, std::uint16_t>;
    std::set<Place> seen_;
    std::uint16_t directory_ = 0x3F00;
};

}  // namespace zrn::cli
