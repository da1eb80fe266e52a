#pragma once

// --trace FILE: every exchange with the card, one line each, written as it
// happens so that a crash keeps what came before it.

#include <string>

#include "core/card.h"

namespace zrn::cli {

// "A0 B2 01 04 1C => 41 6C ... 90 00", or "... => PC/SC error 0x80100016";
// the data of the CHV commands (VERIFY, CHANGE, DISABLE, ENABLE, UNBLOCK)
// is masked, their header kept.
std::string traceLine(ByteView command, long result, ByteView response);

class TraceTransport : public core::TransportDecorator {
  public:
    // Creates or truncates `path` (mode 0600: a trace holds the phone book);
    // fails with exit code 2 when it cannot.
    TraceTransport(core::Transport& inner, const std::string& path);
    ~TraceTransport() override;
    TraceTransport(const TraceTransport&) = delete;
    TraceTransport& operator=(const TraceTransport&) = delete;

    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override;

  private:
    int fd_ = -1;
    std::string path_;
    bool failed_ = false;
};

}  // namespace zrn::cli
