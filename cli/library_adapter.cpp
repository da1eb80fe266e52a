#include "cli/library_adapter.h"

#include <algorithm>
#include <cstring>

#include "channel/card_channel.h"
#include "library/geometry.h"
#include "phonebook/phonebook.h"
#include "sms/sms.h"

namespace zrn::cli::library {

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

// The phone book and the messages go through the library's own steps, without
// the host buffers of ReadZRN and ReadSMS, so that a card holding more than a
// host could take is still read whole.
Stream readPhonebook() {
    const phonebook::PhonebookStream read =
        phonebook::readPhonebookStream(channel::cardChannel(), phonebookGeometry());
    Stream s;
    s.result = read.result;
    if (read.result == 0) {
        s.count = read.contactCount;
        s.bytes = read.joined();
    }
    return s;
}

std::int32_t writePhonebook(std::int32_t count, ByteView stream) {
    return phonebook::writePhonebookStream(channel::cardChannel(), phonebookGeometry(), count,
                                           stream);
}

Stream readMessages() {
    std::vector<sms::MessageRecord> records;
    Stream s;
    s.result = sms::readMessageRecords(channel::cardChannel(), records);
    if (s.result == 0) {
        s.count = static_cast<std::int32_t>(records.size());
        s.bytes = sms::encodeMessageStream(records);
    }
    return s;
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
