// ReadZRN and WriteZRN: the layout test, then the reader or writer of the
// layout, and for ReadZRN the copy into the host's buffer.
#include "phonebook/phonebook.h"

#include <algorithm>

#include "phonebook/extended_layout.h"
#include "phonebook/standard_layout.h"
#include "results/result_codes.h"

namespace zrn::phonebook {

using channel::CardChannel;

Bytes PhonebookStream::joined() const {
    Bytes stream;
    stream.reserve(groups.size() + contacts.size());
    stream.insert(stream.end(), groups.begin(), groups.end());
    stream.insert(stream.end(), contacts.begin(), contacts.end());
    return stream;
}

PhonebookStream readPhonebookStream(CardChannel& channel, const PhonebookGeometry& geometry) {
    PhonebookStream stream;
    stream.extendedLayout = isExtendedLayout(channel, geometry);
    if (stream.extendedLayout) {
        ExtendedRead read = readExtendedPhonebook(channel, geometry);
        stream.result = read.result;
        stream.groups = std::move(read.groups);
        stream.contacts = std::move(read.contacts);
        stream.contactCount = read.contactCount;
    } else {
        StandardRead read = readStandardPhonebook(channel);
        stream.result = read.result;
        stream.contacts = std::move(read.contacts);
        stream.contactCount = read.contactCount;
    }
    return stream;
}

std::int32_t writePhonebookStream(CardChannel& channel, const PhonebookGeometry& geometry,
                                  std::int32_t count, ByteView stream) {
    if (!isExtendedLayout(channel, geometry)) {
        return WriteStandardPhonebook(channel, stream, count);
    }
    return writeExtendedPhonebook(channel, geometry, stream);
}

std::int32_t readPhonebook(CardChannel& channel, const PhonebookGeometry& geometry,
                           std::int32_t& count, std::int32_t& length, std::uint8_t* buffer) {
    const PhonebookStream stream = readPhonebookStream(channel, geometry);
    if (stream.result != result::kOk) {
        if (!stream.extendedLayout) {
            count = stream.contactCount;
        }
        return stream.result;
    }
    if (stream.groups.size() > kGroupListLimit || stream.contacts.size() > kContactsLimit) {
        return stream.extendedLayout ? result::kCardError : result::kInternal;
    }
    std::copy(stream.groups.begin(), stream.groups.end(), buffer);
    std::copy(stream.contacts.begin(), stream.contacts.end(), buffer + stream.groups.size());
    count = stream.contactCount;
    length = static_cast<std::int32_t>(stream.groups.size() + stream.contacts.size());
    return result::kOk;
}

std::int32_t writePhonebook(CardChannel& channel, const PhonebookGeometry& geometry,
                            std::int32_t count, std::int32_t length, const std::uint8_t* stream) {
    const ByteView view =
        length <= 0 ? ByteView{} : ByteView{stream, static_cast<std::size_t>(length)};
    return writePhonebookStream(channel, geometry, count, view);
}

}  // namespace zrn::phonebook
