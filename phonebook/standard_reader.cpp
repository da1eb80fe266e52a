// Reading EF_ADN into NCD elements.
#include <algorithm>
#include <string>

#include "channel/file_map.h"
#include "phonebook/bcd_codec.h"
#include "phonebook/card_files.h"
#include "phonebook/element_stream.h"
#include "phonebook/standard_layout.h"
#include "results/result_codes.h"

namespace zrn::phonebook {

using channel::CardChannel;

namespace {

constexpr std::uint8_t kUnused = 0xFF;

ByteView trimmedAlpha(const Bytes& record, std::size_t alphaLength) {
    std::size_t length = alphaLength;
    while (length > 0 && record[length - 1] == kUnused) {
        --length;
    }
    return {record.data(), length};
}

void appendContact(StreamBuilder& out, const Bytes& record, ByteView alpha,
                   std::size_t numberLength) {
    const std::size_t trailer = record.size() - kAdnTrailerLength;
    const std::size_t head = out.openElement(tag::kNcd);
    out.appendElement(tag::kNmt, alpha);
    // The length byte counts TON/NPI and the BCD bytes; a lying one is held to
    // the ten BCD bytes of the record.
    const std::size_t bcdBytes = std::min(numberLength > 0 ? numberLength - 1 : 0, kAdnBcdBytes);
    std::string digits;
    DecodeBcd(record.data() + trailer + 2, static_cast<std::int32_t>(bcdBytes), digits);
    out.appendElement(tag::kAdn,
                      {reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()});
    out.appendEmpty(tag::kGpi);
    out.closeElement(head);
}

// One record into an NCD element; false for an empty record, which gives none.
bool appendRecord(StreamBuilder& out, const Bytes& record) {
    const std::size_t alphaLength = record.size() - kAdnTrailerLength;
    const std::uint8_t lengthByte = record[alphaLength];
    const std::size_t numberLength = lengthByte == kUnused ? 0 : lengthByte;
    const ByteView alpha = trimmedAlpha(record, alphaLength);
    if (alpha.empty() && numberLength == 0) {
        return false;
    }
    appendContact(out, record, alpha, numberLength);
    return true;
}

}  // namespace

std::int32_t BuildStandardContactsFromRecords(ByteView records, std::size_t recordLength,
                                              Bytes& contacts,
                                              std::vector<std::size_t>* recordOfContact) {
    std::int32_t count = 0;
    StreamBuilder out;
    if (recordLength >= kAdnTrailerLength) {
        Bytes record(recordLength);
        const std::size_t total = std::min(records.size() / recordLength, kMaxRecords);
        for (std::size_t i = 0; i < total; ++i) {
            std::copy_n(records.begin() + static_cast<std::ptrdiff_t>(i * recordLength),
                        recordLength, record.begin());
            if (appendRecord(out, record)) {
                ++count;
                if (recordOfContact != nullptr) {
                    recordOfContact->push_back(i);
                }
            }
        }
    }
    contacts = out.take();
    return count;
}

bool BuildStandardContacts(CardChannel& channel, std::int32_t& count, Bytes& contacts) {
    count = 0;
    const auto info = channel::DescribeFile(channel, channel::files::kAdn).info;
    if (!info || info->recordLength < kAdnTrailerLength) {
        return false;
    }
    const std::size_t recordLength = info->recordLength;
    const std::size_t records = std::min<std::size_t>(info->recordCount(), kMaxRecords);
    StreamBuilder out;
    Bytes record(recordLength);
    for (std::size_t i = 0; i < records; ++i) {
        std::fill(record.begin(), record.end(), kUnused);
        std::uint8_t received = 0;
        if (!channel.ReadRecord(static_cast<std::uint8_t>(i), record.data(),
                                static_cast<std::uint8_t>(recordLength), &received) ||
            received != recordLength) {
            contacts = out.take();
            return false;
        }
        if (appendRecord(out, record)) {
            ++count;
        }
    }
    contacts = out.take();
    return true;
}

StandardRead readStandardPhonebook(CardChannel& channel) {
    StandardRead read;
    if (!BuildStandardContacts(channel, read.contactCount, read.contacts)) {
        read.result = result::kInternal;
    }
    return read;
}

}  // namespace zrn::phonebook
