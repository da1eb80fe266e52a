#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zrn {

constexpr std::size_t kErrorMessageSize = 60;

// The message of a result code, in code page 936, without its terminating zero.
std::string_view errorMessage(std::int32_t code);

// Writes exactly kErrorMessageSize bytes: the message, its zero, then zeros.
void writeErrorMessage(std::int32_t code, char* buffer);

}  // namespace zrn
