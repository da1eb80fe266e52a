#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "channel/bytes.h"

namespace zrn::virtual_card {

// The TCP connection to the vpcd reader driver, which listens for its virtual
// card. Every message in either direction is a 2-byte big-endian length
// followed by that many bytes.
class VpcdLink {
  public:
    enum class Receive { kMessage, kClosed, kInterrupted };

    // Connects to the driver, retrying while it is not listening yet for at
    // most `patience`. `stopMask` is the signal mask under which waits may be
    // interrupted (see receive). Throws std::runtime_error when no connection
    // is made.
    static VpcdLink connectTo(const std::string& host, std::uint16_t port,
                              std::chrono::milliseconds patience, const sigset_t& stopMask,
                              const volatile sig_atomic_t& stopRequested);

    VpcdLink(VpcdLink&& other) noexcept;
    VpcdLink& operator=(VpcdLink&&) = delete;
    VpcdLink(const VpcdLink&) = delete;
    VpcdLink& operator=(const VpcdLink&) = delete;
    ~VpcdLink();

    // Waits for the next message. Returns kClosed when the driver closes the
    // connection at a message boundary, kInterrupted when a signal that the
    // stop mask lets through arrives and the stop flag is set. Throws
    // std::runtime_error on a socket error or a connection cut mid-message.
    Receive receive(Bytes& message);
    // Throws std::runtime_error when the message cannot be sent whole.
    void send(ByteView message);

    bool connected() const { return fd_ >= 0; }

  private:
    VpcdLink(int fd, const sigset_t& stopMask, const volatile sig_atomic_t& stopRequested)
        : fd_(fd), stopMask_(stopMask), stopRequested_(&stopRequested) {}

    enum class Read { kDone, kClosed, kInterrupted };
    Read readExactly(std::uint8_t* into, std::size_t count);

    int fd_ = -1;
    sigset_t stopMask_;
    const volatile sig_atomic_t* stopRequested_;
};

}  // namespace zrn::virtual_card
