// The zrn program run as people run it, on temporary copies of the sample cards.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "zrn_folder.h"

#include "sim/card_builder.h"

namespace {

namespace fs = std::filesystem;

using Result = zrn::test::ZrnRun;
using zrn::test::slurp;
using zrn::test::spit;

class EndToEnd : public zrn::test::ZrnFolder {
  protected:
    void SetUp() override {
        ZrnFolder::SetUp();
        copySamples();
    }

    nlohmann::json image(const std::string& name) const {
        return nlohmann::json::parse(slurp(path(name)));
    }
    void setPin(const std::string& name, bool enabled, int attemptsLeft) const {
        nlohmann::json card = image(name);
        card["chv1"]["enabled"] = enabled;
        card["chv1"]["pin"] = "9513";
        card["chv1"]["attemptsLeft"] = attemptsLeft;
        spit(path(name), card.dump());
    }
};

TEST_F(EndToEnd, InfoReportsLayoutCapacitiesAndUse) {
    const Result run = zrn("--sim extended.json info");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("extended"), std::string::npos);
    EXPECT_NE(run.out.find("GetConfig 250,500,20,100,8,10,0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("contacts                  15 used, 235 free of 250"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ICCID"), std::string::npos);
    EXPECT_NE(run.out.find("disabled"), std::string::npos);

    const Result standard = zrn("--sim standard.json info");
    ASSERT_EQ(standard.exitCode, 0) << standard.err;
    EXPECT_NE(standard.out.find("standard"), std::string::npos);
}

TEST_F(EndToEnd, ImportOfAnExportGivesTheSamePhonebook) {
    for (const char* card : {"extended.json", "standard.json"}) {
        for (const char* format : {"json", "vcard", "csv", "raw"}) {
            SCOPED_TRACE(std::string(card) + " " + format);
            const std::string file = std::string("book.") + format;
            ASSERT_EQ(
                zrn(std::string("--sim ") + card + " phonebook export -o before.json").exitCode, 0);
            ASSERT_EQ(zrn(std::string("--sim ") + card + " phonebook export --format " + format +
                          " -o " + file)
                          .exitCode,
                      0);
            const Result import = zrn(std::string("--sim ") + card + " phonebook import " + file +
                                      " --format " + format + " --no-backup");
            ASSERT_EQ(import.exitCode, 0) << import.err;
            EXPECT_NE(import.err.find("read back and verified"), std::string::npos);
            ASSERT_EQ(
                zrn(std::string("--sim ") + card + " phonebook export -o after.json").exitCode, 0);
            std::string expected = slurp(path("before.json"));
            if (std::string(format) == "raw") {
                // The library's stream has no TON/NPI: its numbers come back national.
                for (auto at = expected.find("\"+"); at != std::string::npos;
                     at = expected.find("\"+", at)) {
                    expected.erase(at + 1, 1);
                }
            }
            EXPECT_EQ(expected, slurp(path("after.json")));
        }
    }
}

TEST_F(EndToEnd, CardsWithFewerThanEightGroupsKeepTheirContacts) {
    // The library's writer reads eight group elements whatever the card has;
    // the tool must not let the contacts be taken for groups.
    zrn::sim::ExtendedGeometry g;
    g.groupCount = 3;
    g.nameSlotCount = 20;
    g.numberSlotCount = 60;
    g.adnCount = 20;
    g.adiCount = 10;
    zrn::sim::CardImage card = zrn::sim::buildExtendedCard(g);
    zrn::sim::putGroupName(card, g, 1, zrn::sim::asciiBytes("Team"));
    zrn::sim::putNameSlot(card, g, 1, zrn::sim::asciiBytes("Ada"), false, {1, 3});
    zrn::sim::putNumberSlot(card, g, 0, 1, zrn::sim::NumberType::kAdn, "0301");
    zrn::sim::putNameSlot(card, g, 2, zrn::sim::ucs2Bytes(u"Ли"), true, {});
    zrn::sim::putNumberSlot(card, g, 20, 2, zrn::sim::NumberType::kMbl, "0171");
    zrn::sim::saveImage(card, path("three.json"));

    ASSERT_EQ(zrn("--sim three.json phonebook export -o before.json").exitCode, 0);
    const Result import = zrn("--sim three.json phonebook import before.json --no-backup");
    ASSERT_EQ(import.exitCode, 0) << import.err;
    ASSERT_EQ(zrn("--sim three.json phonebook export -o after.json").exitCode, 0);
    EXPECT_EQ(slurp(path("before.json")), slurp(path("after.json")));
    const nlohmann::json book = nlohmann::json::parse(slurp(path("after.json")));
    ASSERT_EQ(book["contacts"].size(), 2u);
    EXPECT_EQ(book["contacts"][1]["name"], "Ли");
    EXPECT_EQ(book["groups"].size(), 3u);

    // A group name beyond the card's three records is reported, not written.
    spit(path("seven.json"), R"({"groups": [{"number": 7, "name": "Seven"}], "contacts": []})");
    const Result seven = zrn("--sim three.json phonebook import seven.json --no-backup");
    EXPECT_EQ(seven.exitCode, 1);
    EXPECT_NE(seven.err.find("group records"), std::string::npos) << seven.err;
}

TEST_F(EndToEnd, DryRunChangesNothing) {
    spit(path("one.csv"), "name,mobile\nBob,0123\n");
    const std::string before = slurp(path("extended.json"));
    const Result run = zrn("--sim extended.json phonebook import one.csv --dry-run");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Dry run: nothing is written"), std::string::npos);
    EXPECT_NE(run.out.find("1. Bob  [gsm 42 6F 62]"), std::string::npos) << run.out;
    EXPECT_EQ(slurp(path("extended.json")), before);
    EXPECT_FALSE(fs::exists(path("b.json")));
}

TEST_F(EndToEnd, BackupIsWrittenBeforeTheWrite) {
    spit(path("one.csv"), "name,mobile\nBob,0123\n");
    const Result run = zrn("--sim extended.json phonebook import one.csv --backup b.json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json backup = nlohmann::json::parse(slurp(path("b.json")));
    EXPECT_EQ(backup["format"], "zrn-backup");
    EXPECT_EQ(backup["phonebook"]["contacts"].size(), 15u) << "the phone book before the write";
    EXPECT_LT(run.err.find("backup of the card written"), run.err.find("wrote 1 contact"));
    const Result after = zrn("--sim extended.json phonebook export --format text");
    EXPECT_NE(after.out.find("1 contact(s)"), std::string::npos) << after.out;
}

TEST_F(EndToEnd, RestoreBringsBackTheCardByteForByte) {
    ASSERT_EQ(zrn("--sim extended.json backup -o full.json").exitCode, 0);
    spit(path("one.csv"), "name,mobile\nBob,0123\n");
    spit(path("sms.json"), R"({"messages": [{"status": "unsent", "to": "+4912345",
                                             "text": "Hello € world"}]})");
    ASSERT_EQ(zrn("--sim extended.json phonebook import one.csv --no-backup").exitCode, 0);
    const Result sms = zrn("--sim extended.json sms import sms.json --no-backup");
    ASSERT_EQ(sms.exitCode, 0) << sms.err;
    EXPECT_NE(zrn("--sim extended.json sms export --format text").out.find("Hello € world"),
              std::string::npos);

    const Result restore = zrn("--sim extended.json restore full.json --no-backup");
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    ASSERT_EQ(zrn("--sim extended.json backup -o again.json").exitCode, 0);
    const nlohmann::json a = nlohmann::json::parse(slurp(path("full.json")));
    const nlohmann::json b = nlohmann::json::parse(slurp(path("again.json")));
    EXPECT_EQ(a["phonebook"]["stream"], b["phonebook"]["stream"]);
    EXPECT_EQ(a["messages"], b["messages"]);
}

TEST_F(EndToEnd, RestoreChecksEverythingBeforeWritingAnything) {
    // Fifteen messages of the extended sample do not fit the standard sample's ten records.
    ASSERT_EQ(zrn("--sim extended.json backup -o full.json").exitCode, 0);
    const std::string before = slurp(path("standard.json"));
    const Result run = zrn("--sim standard.json restore full.json --allow-loss --no-backup");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;
    EXPECT_EQ(slurp(path("standard.json")), before);
}

TEST_F(EndToEnd, BackupToStandardOutputHoldsRawAndDecoded) {
    const Result run = zrn("--sim extended.json backup -o -");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["card"]["layout"], "extended");
    EXPECT_FALSE(doc["phonebook"]["stream"].get<std::string>().empty());
    EXPECT_EQ(doc["phonebook"]["contacts"].size(), 15u);
    ASSERT_FALSE(doc["messages"]["messages"].empty());
    const auto& firstPart = doc["messages"]["messages"][0]["parts"][0];
    EXPECT_EQ(firstPart["record"].get<std::string>().size(), 352u);
}

TEST_F(EndToEnd, PinIsRefusedAtTheLastAttempt) {
    setPin("extended.json", true, 1);
    const Result refused = zrn("--sim extended.json --pin-env PIN info", "PIN=9513");
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.err.find("--force-last-attempt"), std::string::npos) << refused.err;
    EXPECT_EQ(image("extended.json")["chv1"]["attemptsLeft"], 1) << "no VERIFY was sent";

    const Result forced =
        zrn("--sim extended.json --pin-env PIN --force-last-attempt info", "PIN=9513");
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(forced.out.find("9513"), std::string::npos) << "the PIN is never printed";
    EXPECT_EQ(image("extended.json")["chv1"]["attemptsLeft"], 3);
}

TEST_F(EndToEnd, AWrongPinIsTriedOnce) {
    setPin("extended.json", true, 3);
    const Result wrong = zrn("--sim extended.json --pin-env PIN info", "PIN=9999");
    EXPECT_EQ(wrong.exitCode, 3);
    EXPECT_NE(wrong.err.find("2 attempt(s) left"), std::string::npos) << wrong.err;
    EXPECT_EQ(wrong.err.find("9999"), std::string::npos);
    EXPECT_EQ(image("extended.json")["chv1"]["attemptsLeft"], 2);

    const Result noPin = zrn("--sim extended.json info");
    EXPECT_EQ(noPin.exitCode, 3);
    EXPECT_NE(noPin.err.find("--pin-env"), std::string::npos);
    const Result unset = zrn("--sim extended.json --pin-env NO_SUCH_VARIABLE_ZRN info");
    EXPECT_EQ(unset.exitCode, 3);
    EXPECT_EQ(image("extended.json")["chv1"]["attemptsLeft"], 2);
}

TEST_F(EndToEnd, PlusNumbersAreStoredInternationalOrAs00) {
    spit(
        path("plus.json"),
        R"({"contacts": [{"name": "Eva", "numbers": [{"type": "mobile", "number": "+49 170 1"}]}]})");
    const Result stored = zrn("--sim extended.json phonebook import plus.json --no-backup");
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    EXPECT_NE(zrn("--sim extended.json phonebook export --format csv").out.find("+491701"),
              std::string::npos);

    const Result as00 =
        zrn("--sim extended.json phonebook import plus.json --plus-as 00 --no-backup");
    ASSERT_EQ(as00.exitCode, 0) << as00.err;
    const std::string csv = zrn("--sim extended.json phonebook export --format csv").out;
    EXPECT_NE(csv.find("00491701"), std::string::npos);
    EXPECT_EQ(csv.find("+491701"), std::string::npos);
}

TEST_F(EndToEnd, LossIsReportedAndNeedsConsent) {
    spit(path("long.csv"),
         "name,mobile,home\n"
         "A name that is much too long for any SIM slot,1,2\n");
    const std::string before = slurp(path("standard.json"));
    const Result refused = zrn("--sim standard.json phonebook import long.csv --no-backup");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("is cut to"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("one number per contact"), std::string::npos);
    EXPECT_EQ(slurp(path("standard.json")), before);
    EXPECT_EQ(
        zrn("--sim standard.json phonebook import long.csv --no-backup --allow-loss").exitCode, 0);
}

TEST_F(EndToEnd, ErrmsgConvertsTheLibraryMessage) {
    const Result run = zrn("errmsg 2");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "2: SIM卡错误(读、写卡错误). (SIM card error (card read or write error))\n");
    EXPECT_NE(zrn("errmsg 331").out.find("未知错误."), std::string::npos);
    EXPECT_EQ(zrn("errmsg two").exitCode, 1);
    EXPECT_EQ(zrn("frobnicate").exitCode, 1);
}

TEST_F(EndToEnd, BadFilesAreUsageErrors) {
    spit(path("bad.json"), "{\"contacts\": [");
    const Result run = zrn("--sim extended.json phonebook import bad.json");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("not valid JSON"), std::string::npos) << run.err;
    EXPECT_EQ(zrn("--sim missing.json info").exitCode, 1);
}

// The contacts of the card as the tool exports them, one line each:
// name|type:number,...|note;...|group name,...
std::vector<std::string> contactLines(const nlohmann::json& book) {
    std::map<int, std::string> groupNames;
    for (const auto& g : book.value("groups", nlohmann::json::array())) {
        groupNames[g["number"].get<int>()] = g.value("name", "");
    }
    std::vector<std::string> lines;
    for (const auto& c : book["contacts"]) {
        std::string line = c.value("name", "") + "|";
        for (const auto& n : c.value("numbers", nlohmann::json::array())) {
            line += n["type"].get<std::string>() + ":" + n["number"].get<std::string>() + ",";
        }
        line += "|";
        for (const auto& note : c.value("notes", nlohmann::json::array())) {
            line += note.get<std::string>() + ";";
        }
        line += "|";
        for (const auto& g : c.value("groups", nlohmann::json::array())) {
            line += groupNames[g.get<int>()] + ",";
        }
        lines.push_back(line);
    }
    return lines;
}

class AddressBookImport : public EndToEnd {
  protected:
    std::vector<std::string> importAndRead(const std::string& file,
                                           const std::string& options = "") {
        const Result run =
            zrn("--sim extended.json phonebook import " + file + " --no-backup " + options);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("read back and verified"), std::string::npos) << run.err;
        const Result out = zrn("--sim extended.json phonebook export");
        EXPECT_EQ(out.exitCode, 0) << out.err;
        return contactLines(nlohmann::json::parse(out.out));
    }
};

TEST_F(AddressBookImport, GoogleCsvKeepsNumbersNotesAndGroups) {
    spit(path("google.csv"),
         "\xEF\xBB\xBFName,Given Name,Family Name,Notes,Group Membership,E-mail 1 - Type,"
         "E-mail 1 - Value,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value\r\n"
         "Anna Berg,Anna,Berg,Call after six,* myContacts ::: Friends,* Home,anna@example.org,"
         "Mobile,0171 111 ::: 0171 112,Work Fax,030 9\r\n"
         "Bo Li,Bo,Li,,* myContacts ::: Friends ::: Work,,,Home,030 1,Work,040 2 ext. 7\r\n"
         ",,,,* myContacts,,,Main,112,,\r\n");
    EXPECT_EQ(importAndRead("google.csv"),
              (std::vector<std::string>{
                  "Anna Berg|mobile:0171111,mobile:0171112,other:0309,|Call after six;"
                  "anna@example.org;|Friends,",
                  "Bo Li|home:0301,work:0402p7,||Friends,Work,", "|general:112,||"}));
}

TEST_F(AddressBookImport, OutlookCsvKeepsNumbersNotesAndGroups) {
    spit(
        path("outlook.csv"),
        "First Name,Middle Name,Last Name,Title,Suffix,Initials,Gender,Birthday,Notes,"
        "E-mail Address,E-mail Type,E-mail Display Name,Mobile Phone,Home Phone,Home Phone 2,"
        "Business Phone,Business Phone 2,Other Phone,Home Fax,Business Fax,Other Fax,Categories,"
        "Priority,Private,Sensitivity\r\n"
        "Jane,,Doe,,,J.D.,Unspecified,0/0/00,VIP,jane@example.com,SMTP,Jane Doe (jane@example.com),"
        "0171 111,030 222,,040 333,,,,040 334,,Clients;Golf,Normal,False,Normal\r\n");
    EXPECT_EQ(importAndRead("outlook.csv"),
              (std::vector<std::string>{"Jane Doe|mobile:0171111,home:030222,work:040333,"
                                        "other:040334,|VIP;jane@example.com;|Clients,Golf,"}));
}

TEST_F(AddressBookImport, IphoneVcardKeepsEveryCard) {
    // iOS 5 and 6 end lines with CR CR LF; the mark comes from sync tools.
    spit(path("iphone.vcf"),
         "\xEF\xBB\xBF"
         "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Appleseed;John;;;\r\r\nFN: John Appleseed\r\r\n"
         "item1.TEL;type=pref:0301\r\r\nTEL;type=CELL;type=VOICE:0171\r\r\n"
         "TEL;type=HOME;type=FAX:0309\r\r\nitem2.EMAIL;type=INTERNET:john@example.com\r\r\n"
         "END:VCARD\r\r\n"
         "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:张;三;;;\r\r\n"
         "TEL;type=WORK:tel:010-6552-9988;ext=12\r\r\nEND:VCARD\r\r\n");
    EXPECT_EQ(importAndRead("iphone.vcf"),
              (std::vector<std::string>{
                  "John Appleseed|general:0301,mobile:0171,other:0309,|john@example.com;|",
                  "张三|work:01065529988p12,||"}));
}

TEST_F(AddressBookImport, Utf16CsvIsFoundWithoutItsName) {
    const std::string text = "Name,Mobile\r\nAnna,0171\r\n";
    std::string wide = "\xFF\xFE";
    for (const char c : text) {
        wide += std::string{c, '\0'};
    }
    spit(path("contacts.txt"), wide);
    EXPECT_EQ(importAndRead("contacts.txt"), (std::vector<std::string>{"Anna|mobile:0171,||"}));
}

TEST_F(AddressBookImport, WhatTheFileHoldsIsNeverDroppedSilently) {
    spit(path("crm.csv"),
         "Name,Mobile,Company,Birthday\r\nAnna,0171,ACME,1990-01-01\r\nBob,0172,,\r\n");
    spit(path("nul.vcf"), std::string("BEGIN:VCARD\r\nFN:A\0B\r\nEND:VCARD\r\n", 31));
    const std::string before = slurp(path("extended.json"));
    const Result refused = zrn("--sim extended.json phonebook import crm.csv --no-backup");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("\"Company\" is not imported"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("\"Birthday\" is not imported"), std::string::npos);
    EXPECT_NE(refused.err.find("--allow-loss"), std::string::npos);
    const Result nul = zrn("--sim extended.json phonebook import nul.vcf --no-backup");
    EXPECT_EQ(nul.exitCode, 1);
    EXPECT_NE(nul.err.find("NUL byte"), std::string::npos) << nul.err;
    EXPECT_EQ(slurp(path("extended.json")), before);

    const Result dryRun = zrn("--sim extended.json phonebook import crm.csv --dry-run");
    EXPECT_EQ(dryRun.exitCode, 0) << dryRun.err;
    EXPECT_NE(dryRun.err.find("\"Company\""), std::string::npos);
    EXPECT_EQ(slurp(path("extended.json")), before);

    const Result accepted =
        zrn("--sim extended.json phonebook import crm.csv --no-backup --allow-loss");
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_NE(accepted.err.find("\"Company\" is not imported"), std::string::npos);
    const Result out = zrn("--sim extended.json phonebook export");
    EXPECT_EQ(contactLines(nlohmann::json::parse(out.out)),
              (std::vector<std::string>{"Anna|mobile:0171,||", "Bob|mobile:0172,||"}));
}

TEST_F(AddressBookImport, LegacyCodePagesAreNamed) {
    spit(path("legacy.csv"), "Name,Mobile\r\nM\xFCller,1\r\n");
    const std::string before = slurp(path("extended.json"));
    const Result refused = zrn("--sim extended.json phonebook import legacy.csv --no-backup");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("--charset windows-1252"), std::string::npos) << refused.err;
    EXPECT_EQ(slurp(path("extended.json")), before);
    EXPECT_EQ(importAndRead("legacy.csv", "--charset windows-1252"),
              (std::vector<std::string>{"Müller|mobile:1,||"}));
}

}  // namespace
