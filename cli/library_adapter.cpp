#include "cli/library_adapter.h"

#include <algorithm>
#include <cstring>

namespace zrn::cli::library {

namespace {
// Two message stores of at most 255 records each (one-byte record numbers).
constexpr std::size_t kMaxStoredMessages = 2 * 255;

Stream trimmed(std::int32_t result, std::int32_t count, std::int32_t length, Bytes buffer) {
    Stream s;
    s.result = result;
    if (result != 0) {
        return s;
    }
    s.count = count;
    const auto used = static_cast<std::size_t>(
        std::clamp<std::int64_t>(length, 0, static_cast<std::int64_t>(buffer.size())));
    buffer.resize(used);
    s.bytes = std::move(buffer);
    return s;
}
}  // namespace

std::int32_t connect(CardHandle handle) {
    return ConnectReader(handle);
}

std::int32_t config(std::string& text) {
    char buffer[ZRN_CONFIG_TEXT_SIZE + 1] = {};
    const std::int32_t rv = GetConfig(buffer);
    buffer[ZRN_CONFIG_TEXT_SIZE] = '\0';
    text = buffer;
    return rv;
}

Stream readPhonebook() {
    Bytes buffer(ZRN_PHONEBOOK_BUFFER_SIZE, 0);
    std::int32_t count = 0;
    std::int32_t length = 0;
    const std::int32_t rv = ReadZRN(&count, &length, buffer.data());
    return trimmed(rv, count, length, std::move(buffer));
}

std::int32_t writePhonebook(std::int32_t count, ByteView stream) {
    return WriteZRN(count, static_cast<std::int32_t>(stream.size()), stream.data());
}

Stream readMessages() {
    Bytes buffer(ZRN_SMS_ELEMENT_SIZE * kMaxStoredMessages, 0);
    std::int32_t count = 0;
    std::int32_t length = 0;
    const std::int32_t rv = ReadSMS(&count, &length, buffer.data());
    return trimmed(rv, count, length, std::move(buffer));
}

std::int32_t writeMessages(std::int32_t count, ByteView stream) {
    return WriteSMS(count, static_cast<std::int32_t>(stream.size()), stream.data());
}

std::string errorMessage(std::int32_t code) {
    char buffer[ZRN_ERRMSG_SIZE + 1] = {};
    GetErrMsg(code, buffer);
    buffer[ZRN_ERRMSG_SIZE] = '\0';
    return std::string(buffer, strnlen(buffer, ZRN_ERRMSG_SIZE));
}

}  // namespace zrn::cli::library
