// The deleted-message recovery of the zrn program, run on a temporary copy of
// a sample card.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "zrn_folder.h"

namespace {

namespace fs = std::filesystem;

using Result = zrn::test::ZrnRun;
using zrn::test::slurp;
using zrn::test::spit;

class SmsEndToEnd : public zrn::test::ZrnFolder {
  protected:
    void SetUp() override {
        ZrnFolder::SetUp();
        copySamples();
    }

    nlohmann::json image(const std::string& name) const {
        return nlohmann::json::parse(slurp(path(name)));
    }
};

// A record marked free whose bytes still hold a message: shown on request and
// kept in a backup, marked deleted, and never written back as a live message.
TEST_F(SmsEndToEnd, DeletedMessagesAreRecoveredButNeverRestored) {
    nlohmann::json card = image("extended.json");
    for (auto& file : card["files"]) {
        if (file["path"] == "3F00/7F10/6F3C") {
            std::string record = file["records"][0].get<std::string>();
            file["records"][12] = "00" + record.substr(2);
        }
    }
    spit(path("extended.json"), card.dump());
    const Result plain = zrn("--sim extended.json sms export");
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    const nlohmann::json live = nlohmann::json::parse(plain.out);
    EXPECT_FALSE(live.contains("deleted")) << "only on request";

    const Result run = zrn("--sim extended.json sms export --deleted");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["messages"], live["messages"]);
    ASSERT_EQ(doc["deleted"].size(), 1u) << run.out;
    EXPECT_EQ(doc["deleted"][0]["deleted"], true);
    EXPECT_EQ(doc["deleted"][0]["status"], "free");
    EXPECT_EQ(doc["deleted"][0]["text"], live["messages"][0]["text"]);
    EXPECT_EQ(doc["deleted"][0]["from"], live["messages"][0]["from"]);

    const Result text = zrn("--sim extended.json sms export --deleted --format text");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("1 deleted message(s)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("[deleted]"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("CMS record 13"), std::string::npos) << text.out;
    EXPECT_EQ(zrn("--sim extended.json sms export --deleted --format raw").exitCode, 1);

    ASSERT_EQ(zrn("--sim extended.json backup -o b.json").exitCode, 0);
    const nlohmann::json backup = nlohmann::json::parse(slurp(path("b.json")));
    EXPECT_EQ(backup["messages"]["deleted"], doc["deleted"]);
    const Result restore = zrn("--sim extended.json restore b.json --no-backup");
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    const Result after = zrn("--sim extended.json sms export");
    EXPECT_EQ(nlohmann::json::parse(after.out)["messages"], live["messages"])
        << "the deleted message did not come back as a live one";
}

}  // namespace
