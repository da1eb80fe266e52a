// zrn-virtual-card against a stand-in for the vpcd reader driver: the test listens
// where the driver would and speaks its framing (length, then body, sent
// apart as vpcd does).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "sim/card_builder.h"
#include "sim/card_image.h"
#include "tests/integration/child_process.h"

namespace zrn::integration {
namespace {

namespace fs = std::filesystem;
namespace files = sim::files;

Bytes hex(std::string_view text) {
    Bytes out;
    EXPECT_TRUE(fromHex(text, out)) << text;
    return out;
}

// Listens on a free port of 127.0.0.1 like the vpcd driver.
class FakeDriver {
  public:
    FakeDriver() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen: " << std::strerror(errno);
        }
        port_ = ntohs(address.sin_port);
    }
    ~FakeDriver() {
        hangUp();
        close(listener_);
    }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;

    int port() const { return port_; }

    bool acceptCard() {
        pollfd waitFor{listener_, POLLIN, 0};
        if (::poll(&waitFor, 1, 10000) != 1) {
            return false;
        }
        card_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return card_ >= 0;
    }

    void send(ByteView message) {
        const std::uint8_t head[2] = {static_cast<std::uint8_t>(message.size() >> 8),
                                      static_cast<std::uint8_t>(message.size())};
        ASSERT_EQ(::send(card_, head, 2, MSG_NOSIGNAL), 2);
        ASSERT_EQ(::send(card_, message.data(), message.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(message.size()));
    }

    // The next message, or nothing when the card closed the connection or
    // said nothing within the timeout.
    std::optional<Bytes> receive(int timeoutMs = 5000) {
        std::uint8_t head[2];
        if (!readExactly(head, 2, timeoutMs)) {
            return std::nullopt;
        }
        Bytes body(readBe16(head));
        if (!body.empty() && !readExactly(body.data(), body.size(), timeoutMs)) {
            return std::nullopt;
        }
        return body;
    }

    // A command and its answer.
    Bytes exchange(std::string_view command) {
        send(hex(command));
        return receive().value_or(Bytes{});
    }

    void hangUp() {
        if (card_ >= 0) {
            close(card_);
            card_ = -1;
        }
    }

  private:
    bool readExactly(std::uint8_t* into, std::size_t count, int timeoutMs) {
        std::size_t got = 0;
        while (got < count) {
            pollfd waitFor{card_, POLLIN, 0};
            if (::poll(&waitFor, 1, timeoutMs) != 1) {
                return false;
            }
            const ssize_t n = recv(card_, into + got, count - got, 0);
            if (n <= 0) {
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    int listener_ = -1;
    int card_ = -1;
    int port_ = 0;
};

class VirtualCardTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zrn-virtual-card-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        sim::StandardCardOptions options;
        options.adnCount = 5;
        options.smsCount = 2;
        image_ = sim::buildStandardCard(options);
        sim::saveImage(image_, path("card.json"));
    }
    void TearDown() override {
        virtualCard_.reset();
        fs::remove_all(dir_);
    }

    std::string path(const char* name) const { return (fs::path(dir_) / name).string(); }

    void start(std::vector<std::string> options, int port) {
        std::vector<std::string> argv = {ZRN_VIRTUAL_CARD_PATH, "--port", std::to_string(port)};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(path("card.json"));
        virtualCard_ = std::make_unique<ChildProcess>(argv, path("virtual_card.log"));
    }

    // Waits for zrn-virtual-card to end by itself; its exit status.
    int awaitExit() {
        for (int i = 0; i < 1000 && virtualCard_->running(); ++i) {
            usleep(5000);
        }
        return virtualCard_->poll().value_or(-1000);
    }

    std::string log(const char* name) const {
        std::ifstream in(path(name));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string dir_;
    sim::CardImage image_;
    std::unique_ptr<ChildProcess> virtualCard_;
};

TEST_F(VirtualCardTest, AnswersTheAtrRequestWithTheImageAtr) {
    FakeDriver driver;
    start({}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    driver.send(Bytes{0x04});
    EXPECT_EQ(driver.receive(), image_.atr);
}

TEST_F(VirtualCardTest, ControlsOtherThanTheAtrRequestGetNoAnswer) {
    FakeDriver driver;
    start({}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    for (std::uint8_t control : Bytes{0x01, 0x00, 0x01, 0x02, 0x07}) {
        driver.send(Bytes{control});
    }
    // The first message back must be the answer to the command after them.
    EXPECT_EQ(driver.exchange("A0 A4 00 00 02 3F 00").at(0), 0x9F);
}

TEST_F(VirtualCardTest, CommandsReachTheCardModel) {
    struct Step {
        std::string command;
        std::string answer;
    };
    // Not A0, unknown instruction, too short, then a SELECT path and a READ RECORD.
    const Step steps[] = {
        {"00 A4 00 00 02 3F 00", "6E 00"},
        {"A0 77 00 00 00", "6D 00"},
        {"A0 A4", "67 00"},
        {"A0 A4 00 00 02 7F 10", "9F 16"},
        {"A0 A4 00 00 02 6F 3A", "9F 0F"},
        {"A0 B2 01 04 1C", std::string(2 * 28, 'F') + " 90 00"},
    };
    FakeDriver driver;
    start({}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    for (const Step& step : steps) {
        EXPECT_EQ(toHex(driver.exchange(step.command)), toHex(hex(step.answer))) << step.command;
    }
}

TEST_F(VirtualCardTest, ResetAndPowerOffReturnTheCardToTheMasterFile) {
    FakeDriver driver;
    start({}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    for (std::uint8_t control : Bytes{0x02, 0x00}) {
        driver.exchange("A0 A4 00 00 02 7F 10");
        driver.exchange("A0 A4 00 00 02 6F 3A");
        driver.send(Bytes{control});
        // 6F3A lies under 7F10: only reachable again once 7F10 is selected anew.
        EXPECT_EQ(toHex(driver.exchange("A0 A4 00 00 02 6F 3A")), "94 04")
            << "control " << int{control};
        driver.send(Bytes{0x01});
    }
}

TEST_F(VirtualCardTest, SavesTheCardWhenTheDriverHangsUp) {
    FakeDriver driver;
    start({"--save-as", path("out.json"), "--log", path("apdu.log")}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    driver.exchange("A0 A4 00 00 02 7F 10");
    driver.exchange("A0 A4 00 00 02 6F 3A");
    const Bytes record = sim::adnRecordBytes(28, Bytes{'A', 'B'}, "123");
    EXPECT_EQ(toHex(driver.exchange("A0 DC 01 04 1C " + toHex(record))), "90 00");
    driver.hangUp();

    EXPECT_EQ(awaitExit(), 0) << log("virtual_card.log");
    const sim::CardImage saved = sim::loadImage(path("out.json"));
    EXPECT_EQ(saved.record({files::kTelecom, files::kAdn}, 0), record);
    EXPECT_EQ(sim::loadImage(path("card.json")), image_) << "--save-as must leave the image alone";
    const std::string apdus = log("apdu.log");
    EXPECT_NE(apdus.find("> A0 DC 01 04 1C " + toHex(record)), std::string::npos) << apdus;
    EXPECT_NE(apdus.find("< 90 00"), std::string::npos) << apdus;
}

TEST_F(VirtualCardTest, TheLogMasksTheCodesOfChvCommands) {
    const std::string mask8 = "** ** ** ** ** ** ** **";
    struct Secret {
        const char* header;
        const char* data;
        std::string logged;
    };
    const Secret secrets[] = {
        {"A0 20 00 01 08", "31 32 33 34 FF FF FF FF", "A0 20 00 01 08 " + mask8},  // VERIFY
        {"A0 24 00 01 10", "31 32 33 34 FF FF FF FF 35 36 37 38 FF FF FF FF",
         "A0 24 00 01 10 " + mask8 + " " + mask8},                                 // CHANGE
        {"A0 26 00 01 08", "31 32 33 34 FF FF FF FF", "A0 26 00 01 08 " + mask8},  // DISABLE
        {"A0 28 00 01 08", "31 32 33 34 FF FF FF FF", "A0 28 00 01 08 " + mask8},  // ENABLE
        {"A0 2C 00 00 10", "31 32 33 34 35 36 37 38 31 32 33 34 FF FF FF FF",
         "A0 2C 00 00 10 " + mask8 + " " + mask8},  // UNBLOCK
    };
    FakeDriver driver;
    start({"--log", path("apdu.log")}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    for (const Secret& secret : secrets) {
        EXPECT_EQ(driver.exchange(std::string(secret.header) + " " + secret.data).size(), 2u);
    }
    driver.exchange("A0 A4 00 00 02 7F 10");
    driver.hangUp();
    EXPECT_EQ(awaitExit(), 0) << log("virtual_card.log");

    const std::string apdus = log("apdu.log");
    for (const Secret& secret : secrets) {
        EXPECT_NE(apdus.find("> " + secret.logged + "\n"), std::string::npos) << apdus;
    }
    EXPECT_EQ(apdus.find("31 32 33 34"), std::string::npos) << "a code reached the log:\n" << apdus;
    EXPECT_NE(apdus.find("> A0 A4 00 00 02 7F 10\n"), std::string::npos) << apdus;
}

TEST_F(VirtualCardTest, EndsCleanlyOnSigtermAndSavesIntoTheImage) {
    FakeDriver driver;
    start({"--save"}, driver.port());
    ASSERT_TRUE(driver.acceptCard());
    driver.exchange("A0 A4 00 00 02 7F 10");
    driver.exchange("A0 A4 00 00 02 6F 3C");
    const Bytes record = sim::smsRecordBytes(0x01, Bytes{0x00});
    EXPECT_EQ(toHex(driver.exchange("A0 DC 02 04 B0 " + toHex(record))), "90 00");

    EXPECT_EQ(virtualCard_->stop(), 0) << log("virtual_card.log");
    EXPECT_EQ(sim::loadImage(path("card.json")).record({files::kTelecom, files::kSms}, 1), record);
}

TEST_F(VirtualCardTest, WaitsForTheDriverToListen) {
    int port = 0;
    {
        FakeDriver probe;  // a port that was free a moment ago
        port = probe.port();
    }
    start({"--wait", "10"}, port);
    usleep(300000);
    // Listen on exactly that port now.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    pollfd waitFor{listener, POLLIN, 0};
    EXPECT_EQ(poll(&waitFor, 1, 10000), 1)
        << "zrn-virtual-card gave up: " << log("virtual_card.log");
    close(listener);
}

TEST_F(VirtualCardTest, FailsWhenNoDriverListens) {
    int port = 0;
    {
        FakeDriver probe;
        port = probe.port();
    }
    start({"--wait", "0.2"}, port);
    EXPECT_EQ(awaitExit(), 1);
    EXPECT_NE(log("virtual_card.log").find("cannot connect"), std::string::npos)
        << log("virtual_card.log");
}

}  // namespace
}  // namespace zrn::integration
