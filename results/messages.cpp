#include "results/messages.h"

#include <cstring>

#include "results/result_codes.h"

namespace zrn {

std::string_view errorMessage(std::int32_t code) {
    const result::Row* row = result::find(code);
    return row != nullptr && !row->message.empty() ? row->message : result::kUnknownMessage;
}

void writeErrorMessage(std::int32_t code, char* buffer) {
    const std::string_view text = errorMessage(code);
    std::memset(buffer, 0, kErrorMessageSize);
    std::memcpy(buffer, text.data(), text.size());
}

}  // namespace zrn
