#include "cli/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/errors.h"

namespace zrn::cli {

namespace {

constexpr std::size_t kHeader = 5;  // CLA INS P1 P2 P3
constexpr const char* kMasked = "**";

void appendHex(std::string& line, ByteView bytes, std::size_t maskFrom) {
    char hex[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
        if (i >= maskFrom) {
            line += kMasked;
            continue;
        }
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        line += hex;
    }
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string traceLine(ByteView command, long result, ByteView response) {
    const bool secret = core::commandKind(command) == core::CommandKind::kChv;
    std::string line;
    appendHex(line, command, secret ? kHeader : command.size());
    line += " =>";
    if (result != 0) {
        char error[48];
        std::snprintf(error, sizeof error, " PC/SC error 0x%08lX",
                      static_cast<unsigned long>(result) & 0xFFFFFFFFUL);
        line += error;
    } else if (response.empty()) {
        line += " (no response)";
    } else {
        line += ' ';
        appendHex(line, response, response.size());
    }
    return line;
}

TraceTransport::TraceTransport(core::Transport& inner, const std::string& path)
    : TransportDecorator(inner), path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd_ < 0) {
        fail(kExitCard, "cannot write the trace file " + path + ": " + std::strerror(errno) +
                            "; nothing was sent to the card");
    }
}

TraceTransport::~TraceTransport() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

long TraceTransport::transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                              std::uint32_t& responseLength) {
    const long rv = forward(handle, command, response, responseLength);
    const ByteView answer(response, rv == 0 ? responseLength : 0);
    if (!failed_ && !writeAll(fd_, traceLine(command, rv, answer) + "\n")) {
        // The card work goes on; the trace says where it stopped.
        failed_ = true;
        std::cerr << "zrn: the trace file " << path_
                  << " could not be written further: " << std::strerror(errno) << "\n";
    }
    return rv;
}

}  // namespace zrn::cli
