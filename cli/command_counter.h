#pragma once

#include <cstddef>
#include <functional>

#include "core/card.h"

namespace zrn::cli {

// Called after every command the channel sends, with the count so far.
using CommandObserver = std::function<void(std::size_t sent)>;

// Counts the commands that go through the transport it wraps. While one
// lives, it is the counter the progress bar reads.
class CountingTransport : public core::TransportDecorator {
  public:
    explicit CountingTransport(core::Transport& inner);
    ~CountingTransport() override;
    CountingTransport(const CountingTransport&) = delete;
    CountingTransport& operator=(const CountingTransport&) = delete;

    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override;

    std::size_t sent() const { return sent_; }
    void setObserver(CommandObserver observer) { observer_ = std::move(observer); }

  private:
    std::size_t sent_ = 0;
    CommandObserver observer_;
};

// The commands counted by the live counter (0 without one), and its observer
// for the progress bar.
std::size_t commandsSent();
void setCommandObserver(CommandObserver observer);

}  // namespace zrn::cli
