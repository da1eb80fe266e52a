#include "channel/response.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zrn::channel {

namespace {
// pcsc-lite's SCARD_F_UNKNOWN_ERROR: an exchange that "succeeded" without status bytes.
constexpr long kShortAnswer = static_cast<long>(0x80100014L);
}  // namespace

std::string Status::describe() const {
    if (!delivered_) {
        char text[64];
        std::snprintf(text, sizeof text, "transport failure (PC/SC 0x%08lX)",
                      static_cast<unsigned long>(pcscError_) & 0xFFFFFFFFUL);
        return text;
    }
    return sw_.text() + " (" + sw_.meaning() + ")";
}

Response Response::received(ByteView answer) {
    if (answer.size() < 2 || answer.size() - 2 > kMaxData) {
        return transportFailure(kShortAnswer);
    }
    const std::size_t dataLength = answer.size() - 2;
    Response response(Status::fromCard({answer[dataLength], answer[dataLength + 1]}));
    if (dataLength != 0) {
        std::memcpy(response.data_.data(), answer.data(), dataLength);
    }
    response.size_ = dataLength;
    return response;
}

Response Response::transportFailure(long pcscError) {
    return Response(Status::transportFailure(pcscError == 0 ? kShortAnswer : pcscError));
}

std::size_t Response::copyData(std::uint8_t* destination, std::size_t capacity) const {
    const std::size_t n = std::min(size_, capacity);
    if (n != 0) {
        std::memcpy(destination, data_.data(), n);
    }
    return n;
}

}  // namespace zrn::channel
