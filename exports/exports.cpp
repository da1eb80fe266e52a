// The seven exports. Each one only frames a call: module state, card check,
// argument check, then the library's steps. No exception leaves here.
#include "zrn.h"

#include "core/card.h"
#include "results/messages.h"
#include "results/result_codes.h"
#include "startup/module_state.h"

namespace {

namespace result = zrn::result;

// Runs `steps` inside the export frame. `failure` is the result for an
// exception escaping the steps (only std::bad_alloc can), in the export's own terms.
template <typename Steps>
std::int32_t framed(std::int32_t noCard, std::int32_t failure, Steps&& steps) noexcept {
    zrn::startup::ModuleStateGuard guard;
    try {
        if (!zrn::core::hasCard()) {
            return noCard;
        }
        return steps();
    } catch (...) {
        return failure;
    }
}

bool isBadStream(std::int32_t length, const unsigned char* stream) {
    return length < 0 || (stream == nullptr && length != 0);
}

}  // namespace

extern "C" {

ZRN_API std::int32_t ZRN_CALL ConnectReader(ZRN_CARD_HANDLE handle) {
    zrn::startup::ModuleStateGuard guard;
    if (handle == 0) {
        return result::kNoCard;
    }
    try {
        return zrn::core::connect(handle);
    } catch (...) {
        return result::kUnrecognisedCard;
    }
}

ZRN_API std::int32_t ZRN_CALL GetConfig(char* text) {
    return framed(result::kNoCard, result::kNoCard, [&] {
        if (text == nullptr) {
            return result::kBadArgument;
        }
        return zrn::core::config(text);
    });
}

ZRN_API std::int32_t ZRN_CALL GetErrMsg(std::int32_t code, char* text) {
    if (text == nullptr) {
        return result::kBadArgument;
    }
    zrn::writeErrorMessage(code, text);
    return result::kOk;
}

ZRN_API std::int32_t ZRN_CALL ReadZRN(std::int32_t* count, std::int32_t* length,
                                      unsigned char* buffer) {
    return framed(result::kNoCard, result::kCardError, [&] {
        if (count == nullptr || length == nullptr || buffer == nullptr) {
            return result::kBadArgument;
        }
        return zrn::core::readPhonebook(*count, *length, buffer);
    });
}

ZRN_API std::int32_t ZRN_CALL WriteZRN(std::int32_t count, std::int32_t length,
                                       const unsigned char* stream) {
    return framed(result::kNoCard, result::kCardError, [&] {
        if (isBadStream(length, stream)) {
            return result::kBadArgument;
        }
        return zrn::core::writePhonebook(count, length, stream);
    });
}

ZRN_API std::int32_t ZRN_CALL ReadSMS(std::int32_t* count, std::int32_t* length,
                                      unsigned char* buffer) {
    return framed(result::kNoCardSms, result::kSmsNoMemory, [&] {
        if (count == nullptr || length == nullptr || buffer == nullptr) {
            return result::kBadArgument;
        }
        return zrn::core::readMessages(*count, *length, buffer);
    });
}

ZRN_API std::int32_t ZRN_CALL WriteSMS(std::int32_t count, std::int32_t length,
                                       const unsigned char* stream) {
    return framed(result::kNoCardSms, result::kSmsNoMemory, [&] {
        if (count < 0 || isBadStream(length, stream)) {
            return result::kBadArgument;
        }
        return zrn::core::writeMessages(count, length, stream);
    });
}

}  // extern "C"
