// Placeholder until the phone-book readers and writers are built: every call
// reports the card error rather than pretending to succeed.
#include "library/result_codes.h"
#include "phonebook/phonebook.h"

namespace zrn::phonebook {

std::int32_t readPhonebook(channel::CardChannel&, const PhonebookGeometry&, std::int32_t&,
                           std::int32_t&, std::uint8_t*) {
    return result::kCardError;
}

std::int32_t writePhonebook(channel::CardChannel&, const PhonebookGeometry&, std::int32_t,
                            std::int32_t, const std::uint8_t*) {
    return result::kCardError;
}

}  // namespace zrn::phonebook
