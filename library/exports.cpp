// The seven exports. Each one only frames a call: module state, card check,
// argument check, then the owning module's steps. No exception leaves here.
#include "zrn.h"

#include <new>

#include "channel/card_channel.h"
#include "library/geometry.h"
#include "library/messages.h"
#include "library/result_codes.h"
#include "phonebook/phonebook.h"
#include "sms/sms.h"
#include "startup/module_state.h"

namespace {

using zrn::channel::cardChannel;

// Runs `steps` inside the export frame. `failure` is the result for an
// exception escaping the steps (only std::bad_alloc can), in the export's own terms.
template <typename Steps>
std::int32_t framed(std::int32_t noCard, std::int32_t failure, Steps&& steps) noexcept {
    zrn::startup::ModuleStateGuard guard;
    try {
        if (!cardChannel().HasCard()) {
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
        return zrn::result::kNoCard;
    }
    try {
        auto& channel = cardChannel();
        channel.SetCardHandle(handle);
        return zrn::ReadCardGeometry(channel, zrn::phonebookGeometry())
                   ? zrn::result::kOk
                   : zrn::result::kUnrecognisedCard;
    } catch (...) {
        return zrn::result::kUnrecognisedCard;
    }
}

ZRN_API std::int32_t ZRN_CALL GetConfig(char* text) {
    return framed(zrn::result::kNoCard, zrn::result::kNoCard, [&] {
        if (text == nullptr) {
            return zrn::result::kBadArgument;
        }
        auto& geometry = zrn::phonebookGeometry();
        const zrn::Layout layout = zrn::probeLayout(cardChannel(), geometry);
        if (layout == zrn::Layout::kUnknown) {
            return zrn::result::kCardError;
        }
        zrn::formatConfigText(geometry, layout == zrn::Layout::kExtended, text);
        return zrn::result::kOk;
    });
}

ZRN_API std::int32_t ZRN_CALL GetErrMsg(std::int32_t code, char* text) {
    if (text == nullptr) {
        return zrn::result::kBadArgument;
    }
    zrn::writeErrorMessage(code, text);
    return zrn::result::kOk;
}

ZRN_API std::int32_t ZRN_CALL ReadZRN(std::int32_t* count, std::int32_t* length,
                                      unsigned char* buffer) {
    return framed(zrn::result::kNoCard, zrn::result::kCardError, [&] {
        if (count == nullptr || length == nullptr || buffer == nullptr) {
            return zrn::result::kBadArgument;
        }
        return zrn::phonebook::readPhonebook(cardChannel(), zrn::phonebookGeometry(), *count,
                                             *length, buffer);
    });
}

ZRN_API std::int32_t ZRN_CALL WriteZRN(std::int32_t count, std::int32_t length,
                                       const unsigned char* stream) {
    return framed(zrn::result::kNoCard, zrn::result::kCardError, [&] {
        if (isBadStream(length, stream)) {
            return zrn::result::kBadArgument;
        }
        return zrn::phonebook::writePhonebook(cardChannel(), zrn::phonebookGeometry(), count,
                                              length, stream);
    });
}

ZRN_API std::int32_t ZRN_CALL ReadSMS(std::int32_t* count, std::int32_t* length,
                                      unsigned char* buffer) {
    return framed(zrn::result::kNoCardSms, zrn::result::kSmsNoMemory, [&] {
        if (count == nullptr || length == nullptr || buffer == nullptr) {
            return zrn::result::kBadArgument;
        }
        return zrn::sms::readMessages(cardChannel(), *count, *length, buffer);
    });
}

ZRN_API std::int32_t ZRN_CALL WriteSMS(std::int32_t count, std::int32_t length,
                                       const unsigned char* stream) {
    return framed(zrn::result::kNoCardSms, zrn::result::kSmsNoMemory, [&] {
        if (count < 0 || isBadStream(length, stream)) {
            return zrn::result::kBadArgument;
        }
        return zrn::sms::writeMessages(cardChannel(), count, length, stream);
    });
}

}  // extern "C"
