#include "tools/virtual_card/vpcd_link.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zrn::virtual_card {

namespace {

std::runtime_error socketError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void setOption(int fd, int level, int option, const char* name) {
    const int on = 1;
    if (setsockopt(fd, level, option, &on, sizeof on) != 0) {
        throw socketError(std::string("setsockopt ") + name);
    }
}

// Tries each address once; returns the connected socket or -1 with errno of the last attempt.
int tryConnect(const addrinfo* addresses) {
    int lastError = ECONNREFUSED;
    for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            return fd;
        }
        lastError = errno;
        close(fd);
    }
    errno = lastError;
    return -1;
}

}  // namespace

VpcdLink VpcdLink::connectTo(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds patience, const sigset_t& stopMask,
                             const volatile sig_atomic_t& stopRequested) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses); rc != 0) {
        throw std::runtime_error("cannot resolve " + host + ": " + gai_strerror(rc));
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    int fd = -1;
    while ((fd = tryConnect(addresses)) < 0 && !stopRequested &&
           (errno == ECONNREFUSED || errno == ENOENT) &&
           std::chrono::steady_clock::now() < deadline) {
        // Waits with the stop signals let in, so that SIGTERM ends the wait.
        const timespec pause{0, 50'000'000};
        ppoll(nullptr, 0, &pause, &stopMask);
    }
    const int connectError = errno;
    freeaddrinfo(addresses);
    if (fd < 0) {
        errno = connectError;
        throw socketError("cannot connect to the vpcd driver at " + host + ":" + service);
    }
    VpcdLink link(fd, stopMask, stopRequested);
    // vpcd sends the length and the body of a message in two writes; without
    // these every command would wait for a delayed ACK (about 40 ms).
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, "TCP_NODELAY");
    return link;
}

VpcdLink::VpcdLink(VpcdLink&& other) noexcept
    : fd_(other.fd_), stopMask_(other.stopMask_), stopRequested_(other.stopRequested_) {
    other.fd_ = -1;
}

VpcdLink::~VpcdLink() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

VpcdLink::Read VpcdLink::readExactly(std::uint8_t* into, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        pollfd waitFor{fd_, POLLIN, 0};
        // ppoll lets the stop signals in only while waiting, so a SIGTERM
        // that arrives between two waits is not lost.
        const int ready = ppoll(&waitFor, 1, nullptr, &stopMask_);
        if (ready < 0) {
            if (errno == EINTR) {
                if (*stopRequested_) {
                    return Read::kInterrupted;
                }
                continue;
            }
            throw socketError("poll");
        }
        // The kernel turns quick ACKs off again after a while; ask before every receive.
        setOption(fd_, IPPROTO_TCP, TCP_QUICKACK, "TCP_QUICKACK");
        const ssize_t n = recv(fd_, into + got, count - got, 0);
        if (n == 0) {
            if (got == 0) {
                return Read::kClosed;
            }
            throw std::runtime_error("the driver closed the connection in the middle of a message");
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw socketError("recv");
        }
        got += static_cast<std::size_t>(n);
    }
    return Read::kDone;
}

VpcdLink::Receive VpcdLink::receive(Bytes& message) {
    std::uint8_t head[2];
    switch (readExactly(head, sizeof head)) {
        case Read::kClosed:
            return Receive::kClosed;
        case Read::kInterrupted:
            return Receive::kInterrupted;
        case Read::kDone:
            break;
    }
    message.assign(readBe16(head), 0);
    if (message.empty()) {
        return Receive::kMessage;
    }
    switch (readExactly(message.data(), message.size())) {
        case Read::kClosed:
            throw std::runtime_error("the driver closed the connection in the middle of a message");
        case Read::kInterrupted:
            return Receive::kInterrupted;
        case Read::kDone:
            break;
    }
    return Receive::kMessage;
}

void VpcdLink::send(ByteView message) {
    if (message.size() > 0xFFFF) {
        throw std::runtime_error("message too long for the vpcd framing");
    }
    Bytes frame(2 + message.size());
    writeBe16(frame.data(), static_cast<std::uint16_t>(message.size()));
    std::copy(message.begin(), message.end(), frame.begin() + 2);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw socketError("send");
        }
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace zrn::virtual_card
