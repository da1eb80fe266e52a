// Placeholder until the message readers and writers are built: every call
// reports the card error rather than pretending to succeed.
#include "library/result_codes.h"
#include "sms/sms.h"

namespace zrn::sms {

std::int32_t readMessages(channel::CardChannel&, std::int32_t&, std::int32_t&, std::uint8_t*) {
    return result::kCardError;
}

std::int32_t writeMessages(channel::CardChannel&, std::int32_t, std::int32_t,
                           const std::uint8_t*) {
    return result::kCardError;
}

}  // namespace zrn::sms
