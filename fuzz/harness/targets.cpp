#include "fuzz/harness/targets.h"

#include <algorithm>
#include <array>

#include "channel/card_channel.h"
#include "connection/geometry.h"

namespace zrn::fuzz {

namespace {

constexpr std::array kTargets = {
    Target{"bcd_codec", runBcdCodec},
    Target{"sms_hex_codec", runSmsHexCodec},
    Target{"card_image_json", runCardImageJson},
    Target{"read_zrn", runReadZrn},
    Target{"read_sms", runReadSms},
    Target{"write_zrn_extended", runWriteZrnExtended},
    Target{"write_zrn_standard", runWriteZrnStandard},
    Target{"write_sms", runWriteSms},
    Target{"lying_card", runLyingCard},
#ifdef ZRN_FUZZ_WITH_CLI
    Target{"cli_vcard", runCliVcard},
    Target{"cli_csv", runCliCsv},
    Target{"cli_json", runCliJson},
    Target{"cli_phonebook_stream", runCliPhonebookStream},
    Target{"cli_sms_pdu", runCliSmsPdu},
#endif
};

}  // namespace

std::span<const Target> targets() {
    return kTargets;
}

const Target* findTarget(std::string_view name) {
    const auto* it = std::find_if(kTargets.begin(), kTargets.end(),
                                  [&](const Target& t) { return name == t.name; });
    return it == kTargets.end() ? nullptr : &*it;
}

void resetLibrary() {
    phonebookGeometry() = PhonebookGeometry{};
    channel::cardChannel().SetCardHandle(0);
}

}  // namespace zrn::fuzz
