#include "cli/select_guard.h"

namespace zrn::cli {

namespace {

constexpr std::size_t kHeader = 5;  // CLA INS P1 P2 P3

// GSM 11.11 6.5: 3F is the MF, 7F a first-level and 5F a second-level DF.
bool isDirectory(std::uint16_t fileId) {
    const unsigned high = fileId >> 8;
    return high == 0x3F || high == 0x7F || high == 0x5F;
}

bool notFound(const std::uint8_t* response, std::uint32_t length) {
    if (length != 2) {
        return false;
    }
    return (response[0] == 0x94 && response[1] == 0x04) ||
           (response[0] == 0x6A && response[1] == 0x82);
}

// 9F xx (response waiting) or 90 00.
bool selected(const std::uint8_t* response, std::uint32_t length) {
    return length >= 2 && (response[length - 2] == 0x9F ||
                           (response[length - 2] == 0x90 && response[length - 1] == 0x00));
}

}  // namespace

long SelectGuard::transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                           std::uint32_t& responseLength) {
    const long rv = forward(handle, command, response, responseLength);
    if (rv != 0 || core::commandKind(command) != core::CommandKind::kSelect ||
        command.size() < kHeader + 2) {
        return rv;
    }
    const auto fileId = static_cast<std::uint16_t>(command[kHeader] << 8 | command[kHeader + 1]);
    const Place place{fileId == 0x3F00 ? 0 : directory_, fileId};
    if (selected(response, responseLength)) {
        seen_.insert(place);
        if (isDirectory(fileId)) {
            directory_ = fileId;
        }
    } else if (notFound(response, responseLength) && seen_.count(place) != 0) {
        response[0] = 0x6F;
        response[1] = 0x00;
    }
    return rv;
}

}  // namespace zrn::cli
