#include <gtest/gtest.h>

#include "cli/formats/csv.h"
#include "cli/formats/json_format.h"
#include "cli/formats/vcard.h"

namespace zrn::cli::formats {
namespace {

Phonebook sampleBook() {
    Phonebook book;
    book.groups = {{1, "Family"}, {2, "Work; Team"}, {3, ""}};
    book.contacts = {
        // Numbers in type order, as a card returns them (CSV has a column per type).
        {"Anna Müller",
         {{NumberType::kGeneral, "030"}, {NumberType::kMobile, "0171*1#"}},
         {"anna@example.org", "Notes, with \"quotes\"\nand a second line"},
         {1, 2}},
        {"张伟", {{NumberType::kWork, "01065529988"}, {NumberType::kOther, "112"}}, {}, {3}},
        {"", {{NumberType::kHome, "10086"}}, {}, {}},
        {"A name long enough to be folded across lines in a vCard, since it passes 75 octets",
         {},
         {},
         {}},
    };
    return book;
}

// Reading loses group definitions nobody belongs to; everything else comes back.
Phonebook withUsedGroupsOnly(Phonebook book) {
    std::vector<Group> used;
    for (const Group& g : book.groups) {
        for (const Contact& c : book.contacts) {
            if (std::find(c.groups.begin(), c.groups.end(), g.number) != c.groups.end()) {
                used.push_back(g);
                break;
            }
        }
    }
    book.groups = used;
    return book;
}

TEST(Formats, JsonRoundTrip) {
    const Phonebook book = sampleBook();
    const std::string text = phonebookToJson(book, "extended").dump();
    auto back = parsePhonebookJson(text);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back.value(), book);
}

TEST(Formats, VcardRoundTrip) {
    const Phonebook book = sampleBook();
    const std::string text = writeVcards(book);
    EXPECT_NE(text.find("TEL;TYPE=CELL:0171*1#"), std::string::npos);
    EXPECT_NE(text.find("EMAIL;TYPE=INTERNET:anna@example.org"), std::string::npos);
    EXPECT_NE(text.find("NOTE:Notes\\, with \"quotes\"\\nand a second line"), std::string::npos);
    EXPECT_NE(text.find("CATEGORIES:Family,Work\\; Team"), std::string::npos);
    EXPECT_NE(text.find("\r\n "), std::string::npos) << "long lines are folded";
    auto back = parseVcards(text);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->phonebook, withUsedGroupsOnly(book));
}

TEST(Formats, CsvRoundTrip) {
    const Phonebook book = sampleBook();
    const std::string text = writeCsv(book);
    EXPECT_EQ(text.substr(0, text.find("\r\n")),
              "name,general,mobile,home,work,other,note1,note2,groups,group_numbers");
    auto back = parseCsv(text);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->phonebook, withUsedGroupsOnly(book));
}

TEST(Formats, Vcard21QuotedPrintableFromOldPhones) {
    const std::string text =
        "BEGIN:VCARD\r\n"
        "VERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=BC=9F;;;\r\n"
        "TEL;CELL;PREF:+86 139 1234 5678\r\n"
        "TEL;HOME:010-1234\r\n"
        "TEL;WORK;FAX:010-9999\r\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Erste Zeile=0D=0A=\r\n"
        "M=C3=BCnchen\r\n"
        "PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQ\r\n"
        " AAAQABAAD\r\n"
        "\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\n"
        "VERSION:2.1\r\n"
        "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=FCrgen\r\n"
        "item1.TEL:555\r\n"
        "END:VCARD\r\n";
    auto parsed = parseVcards(text);
    ASSERT_TRUE(parsed) << parsed.error();
    const auto& contacts = parsed->phonebook.contacts;
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0].name, "张伟");  // N: a Chinese name, family name first
    EXPECT_EQ(contacts[0].numbers,
              (std::vector<PhoneNumber>{{NumberType::kMobile, "+86 139 1234 5678"},
                                        {NumberType::kHome, "010-1234"},
                                        {NumberType::kOther, "010-9999"}}));
    EXPECT_EQ(contacts[0].notes, (std::vector<std::string>{"Erste Zeile\r\nMünchen"}));
    EXPECT_EQ(contacts[1].name, "Jürgen");
    EXPECT_EQ(contacts[1].numbers, (std::vector<PhoneNumber>{{NumberType::kGeneral, "555"}}));
}

TEST(Formats, VcardFromChinesePhonesInGbk) {
    const std::string text =
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN;CHARSET=GBK;ENCODING=QUOTED-PRINTABLE:=D5=C5=CE=B0\r\n"
        "TEL;CELL:13912345678\r\nEND:VCARD\r\n";
    auto parsed = parseVcards(text);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->phonebook.contacts.at(0).name, "张伟");
    EXPECT_TRUE(parsed->warnings.empty());
}

TEST(Formats, Vcard40TelUrisAndQuotedTypes) {
    const std::string text =
        "BEGIN:VCARD\nVERSION:4.0\nFN:Kim\n"
        "TEL;VALUE=uri;TYPE=\"cell,voice\":tel:+1-555-555-0100;ext=5\n"
        "TEL;TYPE=work:tel:0301\nEMAIL:kim@example.org\nCATEGORIES:Friends,VIP\nEND:VCARD\n";
    auto parsed = parseVcards(text);
    ASSERT_TRUE(parsed) << parsed.error();
    const Contact& kim = parsed->phonebook.contacts.at(0);
    EXPECT_EQ(kim.numbers, (std::vector<PhoneNumber>{{NumberType::kMobile, "+1-555-555-0100p5"},
                                                     {NumberType::kWork, "0301"}}));
    EXPECT_EQ(kim.notes, (std::vector<std::string>{"kim@example.org"}));
    EXPECT_EQ(kim.groups, (std::vector<int>{1, 2}));
    EXPECT_EQ(parsed->phonebook.groups, (std::vector<Group>{{1, "Friends"}, {2, "VIP"}}));
}

TEST(Formats, MoreThanEightCategoriesAreReported) {
    std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:X\r\nCATEGORIES:";
    for (int i = 1; i <= 9; ++i) {
        text += (i > 1 ? "," : "") + std::string("G") + std::to_string(i);
    }
    text += "\r\nEND:VCARD\r\n";
    auto parsed = parseVcards(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->phonebook.contacts[0].groups.size(), 8u);
    ASSERT_EQ(parsed->losses.size(), 1u);
    EXPECT_NE(parsed->losses[0].find("G9"), std::string::npos);
}

TEST(Formats, BadInputIsRefusedWithAReason) {
    struct Case {
        const char* what;
        bool ok;
        std::string error;
    };
    const auto json = [](const std::string& t) {
        auto r = parsePhonebookJson(t);
        return Case{"", r.ok(), r.ok() ? "" : r.error()};
    };
    EXPECT_NE(json("{\"contacts\": [{\"name\": 5}]}").error.find("contacts[0].name"),
              std::string::npos);
    EXPECT_NE(json("{\"contacts\": [{\"numbers\": [{\"type\": \"fax\", \"number\": \"1\"}]}]}")
                  .error.find("fax"),
              std::string::npos);
    EXPECT_NE(json("{\"contacts\": [{\"groups\": [9]}]}").error.find("1 to 8"), std::string::npos);
    EXPECT_NE(json("{\"format\": \"zrn-phonebook\", \"version\": 7}").error.find("newer"),
              std::string::npos);
    EXPECT_NE(json("[1,2").error.find("not valid JSON"), std::string::npos);
    EXPECT_NE(json(std::string(100, '[')).error.find("nested"), std::string::npos);
    EXPECT_FALSE(parseVcards("just text").ok());
    auto csv = parseCsv("name,mobile\n\"unterminated,1\n");
    EXPECT_FALSE(csv.ok());
    EXPECT_FALSE(parseCsv("mobile\n123\n").ok()) << "a name column is required";
    auto messages = parseMessagesJson("{\"messages\": [{\"parts\": [{\"record\": \"00\"}]}]}");
    ASSERT_FALSE(messages.ok());
    EXPECT_NE(messages.error().find("176-byte"), std::string::npos);
}

TEST(Formats, CsvFollowsRfc4180) {
    auto records = parseCsvRecords("a,\"b,c\",\"d\"\"e\"\r\n\"multi\nline\",,\r\nlast");
    ASSERT_TRUE(records);
    EXPECT_EQ(records.value(), (std::vector<std::vector<std::string>>{
                                   {"a", "b,c", "d\"e"}, {"multi\nline", "", ""}, {"last"}}));
}

}  // namespace
}  // namespace zrn::cli::formats

namespace zrn::cli::formats {
namespace {

std::string utf16(const std::string& ascii, bool littleEndian, bool mark) {
    std::string out = mark ? (littleEndian ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (const char c : ascii) {
        out += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return out;
}

TEST(Formats, Utf16FilesAreReadWithOrWithoutTheirMark) {
    const std::string csv = "Name,Mobile Phone\r\nAnna,0171\r\n";
    const std::string vcard =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nTEL;TYPE=CELL:0171\r\nEND:VCARD\r\n";
    const std::vector<Contact> anna = {{"Anna", {{NumberType::kMobile, "0171"}}, {}, {}}};
    for (const bool littleEndian : {true, false}) {
        for (const bool mark : {true, false}) {
            SCOPED_TRACE(std::string(littleEndian ? "LE" : "BE") + (mark ? " with" : " without"));
            auto fromCsv = parseCsv(utf16(csv, littleEndian, mark));
            ASSERT_TRUE(fromCsv) << fromCsv.error();
            EXPECT_EQ(fromCsv->phonebook.contacts, anna);
            auto fromVcard = parseVcards(utf16(vcard, littleEndian, mark));
            ASSERT_TRUE(fromVcard) << fromVcard.error();
            EXPECT_EQ(fromVcard->phonebook.contacts, anna);
        }
    }
    // Named, a UTF-16 file needs no mark; a file that is not valid in the
    // charset named is refused, not read as something else.
    auto named = parseCsv(utf16("Name\nA\n", true, false), "UTF-16LE");
    ASSERT_TRUE(named) << named.error();
    EXPECT_EQ(named->phonebook.contacts.at(0).name, "A");
    EXPECT_FALSE(parseCsv("Name\n\xFF", "UTF-16LE").ok());
    EXPECT_FALSE(parseCsv("Name\nA\n", "no-such-charset").ok());
}

TEST(Formats, GoogleCsvKeepsEveryNumberNoteAndGroup) {
    // The older Google layout, every column of it: the import that used to keep
    // three bare names.
    const std::string header =
        "Name,Given Name,Additional Name,Family Name,Yomi Name,Given Name Yomi,Additional Name "
        "Yomi,Family Name Yomi,Name Prefix,Name Suffix,Initials,Nickname,Short Name,Maiden "
        "Name,Birthday,Gender,Location,Billing Information,Directory Server,Mileage,Occupation,"
        "Hobby,Sensitivity,Priority,Subject,Notes,Language,Photo,Group Membership,E-mail 1 - "
        "Type,E-mail 1 - Value,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value\n";
    const std::string text = header + "Anna Berg,Anna,,Berg" + std::string(22, ',') +
                             "Call after six,,,* myContacts ::: Friends," +
                             "* Home,anna@example.org,Mobile,0171 1 ::: 0171 2,Work Fax,030 9\n";
    auto parsed = parseCsv(text);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_TRUE(parsed->losses.empty());
    ASSERT_EQ(parsed->phonebook.contacts.size(), 1u);
    const Contact& anna = parsed->phonebook.contacts[0];
    EXPECT_EQ(anna.name, "Anna Berg");
    EXPECT_EQ(anna.numbers, (std::vector<PhoneNumber>{{NumberType::kMobile, "0171 1"},
                                                      {NumberType::kMobile, "0171 2"},
                                                      {NumberType::kOther, "030 9"}}));
    EXPECT_EQ(anna.notes, (std::vector<std::string>{"Call after six", "anna@example.org"}));
    EXPECT_EQ(parsed->phonebook.groups, (std::vector<Group>{{1, "Friends"}}));
}

}  // namespace
}  // namespace zrn::cli::formats
