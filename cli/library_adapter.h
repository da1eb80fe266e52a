#pragma once

// The tool's one road into the library: the exports as a host calls them, and
// for the phone book and the messages the library's steps without the host's
// buffer limits.

#include <cstdint>
#include <string>

#include "channel/bytes.h"
#include "zrn.h"

namespace zrn::cli::library {

struct Stream {
    std::int32_t result = 0;
    std::int32_t count = 0;
    Bytes bytes;
};

std::int32_t connect(CardHandle handle);
// The seven capacities of GetConfig, as the text the library writes.
std::int32_t config(std::string& text);
Stream readPhonebook();
std::int32_t writePhonebook(std::int32_t count, ByteView stream);
Stream readMessages();
std::int32_t writeMessages(std::int32_t count, ByteView stream);
// GetErrMsg's text, still in code page 936.
std::string errorMessage(std::int32_t code);

}  // namespace zrn::cli::library
