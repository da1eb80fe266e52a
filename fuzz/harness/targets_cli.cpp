// The tool's readers of files people hand it, and its decoders of card data.
// A file that parses and encodes for a card without refusal must also be
// accepted by the library on that card.
#include <string_view>

#include "cli/element_stream.h"
#include "cli/formats/csv.h"
#include "cli/formats/json_format.h"
#include "cli/formats/vcard.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"
#include "fuzz/harness/byte_source.h"
#include "fuzz/harness/checked_calls.h"
#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "sim/samples.h"

namespace zrn::fuzz {

namespace {

std::string_view textOf(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

cli::PhonebookRoom extendedSampleRoom() {
    const sim::ExtendedGeometry g = sim::extendedSampleGeometry();
    cli::PhonebookRoom room;
    room.extended = true;
    room.nameSlotLength = g.nameSlotLength;
    room.numberSlotLength = g.numberSlotLength;
    room.adnCount = g.adnCount;
    room.nameSlotCount = g.nameSlotCount;
    room.numberSlotCount = g.numberSlotCount;
    room.groupCount = g.groupCount;
    room.groupNameLength = g.groupNameLength;
    room.adiCount = g.adiCount;
    room.adiRecordLength = g.adiRecordLength;
    return room;
}

cli::PhonebookRoom standardSampleRoom() {
    cli::PhonebookRoom room;
    room.adnRecordLength = 28;
    room.adnRecordCount = 100;
    return room;
}

// What the tool would write must be what the library takes.
void requireWritable(const cli::Phonebook& phonebook, bool extended, const char* what) {
    const cli::EncodedPhonebook encoded =
        cli::encodePhonebook(phonebook, extended ? extendedSampleRoom() : standardSampleRoom());
    if (encoded.refused()) {
        return;
    }
    CardRun run(extended ? sim::extendedSample() : sim::standardSample());
    require(checkedConnect() == 0, "the sample card does not connect");
    const std::int32_t result = checkedWriteZrn(encoded.count, encoded.stream);
    require(result == 0, std::string(what) + ": the library refused the tool's stream with " +
                             std::to_string(result));
}

}  // namespace

void runCliVcard(ByteView input) {
    auto parsed = cli::formats::parseVcards(textOf(input));
    if (!parsed) {
        return;
    }
    const std::string written = cli::formats::writeVcards(parsed->phonebook);
    require(cli::formats::parseVcards(written).ok(), "the tool cannot read its own vCards");
    requireWritable(parsed->phonebook, true, "vCard");
}

void runCliCsv(ByteView input) {
    auto parsed = cli::formats::parseCsv(textOf(input));
    if (!parsed) {
        return;
    }
    const std::string written = cli::formats::writeCsv(parsed->phonebook);
    require(cli::formats::parseCsv(written).ok(), "the tool cannot read its own CSV");
    requireWritable(parsed->phonebook, true, "CSV");
}

void runCliJson(ByteView input) {
    if (input.empty()) {
        return;
    }
    const std::string_view text = textOf(input.subspan(1));
    if ((input[0] & 1u) == 0) {
        auto phonebook = cli::formats::parsePhonebookJson(text);
        if (phonebook) {
            requireWritable(phonebook.value(), true, "JSON phone book");
        }
    } else {
        (void)cli::formats::parseMessagesJson(text);
    }
}

void runCliPhonebookStream(ByteView input) {
    ByteSource in(input);
    const bool extended = in.flag();
    auto raw = cli::parsePhonebookStream(in.rest());
    if (!raw) {
        return;
    }
    requireWritable(cli::decodePhonebook(raw.value()), extended, "phone-book stream");
}

void runCliSmsPdu(ByteView input) {
    const Bytes record(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                          input.size(), cli::kSmsRecordSize)));
    (void)cli::decodeSmsRecord(record);
    auto stored = cli::parseSmsStream(input);
    if (stored) {
        (void)cli::assembleMessages(stored.value());
    }
}

}  // namespace zrn::fuzz
