// The image builders and readers tell which number slot or EF_ADN record each
// number of the stream belongs to, and reporting it changes nothing else.
#include <gtest/gtest.h>

#include "phonebook/extended_layout.h"
#include "phonebook/standard_layout.h"
#include "phonebook_support.h"

namespace zrn::test {
namespace {

PhonebookGeometry geometry() {
    PhonebookGeometry g;
    g.nameSlotLength = 20;
    g.numberSlotLength = 14;
    g.adnCount = 3;
    g.nameSlotCount = 4;
    g.numberSlotCount = 8;
    g.groupCount = 2;
    g.groupNameLength = 6;
    return g;
}

phonebook::ExtendedImages emptyImages(const PhonebookGeometry& g) {
    phonebook::ExtendedImages images;
    images.names.assign(static_cast<std::size_t>(g.nameSlotLength * g.nameSlotCount), 0x00);
    images.numbers.assign(static_cast<std::size_t>(g.numberSlotLength * g.numberSlotCount), 0x00);
    return images;
}

// Written slots and read slots agree number for number, in stream order, and
// the streams with and without the report are the same.
TEST(SlotReporting, WriterAndReaderNameTheSameSlotForEachNumber) {
    const PhonebookGeometry g = geometry();
    const Bytes contacts = cat(
        {contact(ascii("Ann"), {number("ADN", "111"), number("MBL", "222"), number("MBL", "333")}),
         contact(ascii("Bob"), {number("ADN", "444"), number("OTR", "555")}),
         contact(ascii("Cy"), {number("HME", "666")})});
    phonebook::ExtendedImages images = emptyImages(g);
    std::vector<std::size_t> written;
    ASSERT_EQ(phonebook::BuildPhonebookImages(contacts, g, images, &written), 0);
    EXPECT_EQ(written, (std::vector<std::size_t>{0, 3, 4, 1, 5, 6}));

    phonebook::ExtendedImages plain = emptyImages(g);
    ASSERT_EQ(phonebook::BuildPhonebookImages(contacts, g, plain), 0);
    EXPECT_EQ(plain.names, images.names);
    EXPECT_EQ(plain.numbers, images.numbers);

    std::vector<std::size_t> read;
    Bytes withReport;
    Bytes without;
    EXPECT_EQ(phonebook::BuildExtendedContacts(g, images, withReport, &read), 3);
    EXPECT_EQ(phonebook::BuildExtendedContacts(g, images, without), 3);
    EXPECT_EQ(withReport, without);
    EXPECT_EQ(withReport, contacts);
    EXPECT_EQ(read, written);
}

// Slots out of contact order: the reader reports them in stream order.
TEST(SlotReporting, ReaderReportsSlotsInStreamOrder) {
    const PhonebookGeometry g = geometry();
    phonebook::ExtendedImages images = emptyImages(g);
    const Bytes contacts = cat({contact(ascii("Ann"), {number("ADN", "1"), number("MBL", "2")}),
                                contact(ascii("Bob"), {number("ADN", "3")})});
    ASSERT_EQ(phonebook::BuildPhonebookImages(contacts, g, images), 0);
    // Swap ADN slots 0 and 1, and move the MBL from slot 3 to slot 7.
    std::swap_ranges(images.numbers.begin(), images.numbers.begin() + 14,
                     images.numbers.begin() + 14);
    std::copy_n(images.numbers.begin() + 3 * 14, 14, images.numbers.begin() + 7 * 14);
    std::fill_n(images.numbers.begin() + 3 * 14, 14, 0x00);
    std::vector<std::size_t> read;
    Bytes out;
    phonebook::BuildExtendedContacts(g, images, out, &read);
    EXPECT_EQ(out, contacts);
    EXPECT_EQ(read, (std::vector<std::size_t>{1, 7, 0}));
}

TEST(SlotReporting, StandardContactsComeFromTheirRecords) {
    constexpr std::size_t kLength = 28;
    Bytes records(6 * kLength, 0xFF);
    const auto put = [&](std::size_t r, const Bytes& record) {
        std::copy(record.begin(), record.end(), records.begin() + static_cast<long>(r * kLength));
    };
    put(1, sim::adnRecordBytes(kLength, ascii("Ann"), "123", 0x91));
    put(3, sim::adnRecordBytes(kLength, ascii("Bob"), "", 0x81));
    put(4, sim::adnRecordBytes(kLength, Bytes{}, "456", 0x81));
    Bytes contacts;
    std::vector<std::size_t> from;
    EXPECT_EQ(phonebook::BuildStandardContactsFromRecords(records, kLength, contacts, &from), 3);
    EXPECT_EQ(from, (std::vector<std::size_t>{1, 3, 4}));
    const Bytes expected = cat({ncd({element("NMT", "Ann"), number("ADN", "123")}),
                                ncd({element("NMT", "Bob"), number("ADN", "")}),
                                ncd({element("NMT", ""), number("ADN", "456")})});
    EXPECT_EQ(contacts, expected);
    // Records too short for EF_ADN hold no contact.
    EXPECT_EQ(phonebook::BuildStandardContactsFromRecords(records, 13, contacts), 0);
    EXPECT_TRUE(contacts.empty());
}

TEST(SlotReporting, GroupRecordsAreTheWritersBytes) {
    struct Case {
        Bytes name;
        std::size_t length;
        Bytes record;
    };
    const Case cases[] = {
        {{}, 7, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {ascii("Work"), 7, {0x04, 'W', 'o', 'r', 'k', 0xFF, 0xFF}},
        {ascii("Friends"), 5, {0x04, 'F', 'r', 'i', 'e'}},
        {ascii("X"), 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(phonebook::GroupRecordBytes(c.name, c.length), c.record);
    }
    PhonebookGeometry g = geometry();
    EXPECT_EQ(phonebook::GroupRecordLength(g), 7u);
    g.groupNameLength = 255;
    EXPECT_EQ(phonebook::GroupRecordLength(g), 255u);
}

}  // namespace
}  // namespace zrn::test
