#pragma once

// One card for the length of a command: a PC/SC reader or a simulator image,
// CHV1 handled once, the library connected, and what the card can hold.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/bytes.h"
#include "cli/phonebook_model.h"
#include "core/card.h"

namespace zrn::sim {
class SimCard;
}  // namespace zrn::sim

namespace zrn::cli {

class CountingTransport;

struct SessionOptions {
    std::string reader;    // name or index; empty: the first reader with a card
    std::string simImage;  // a card image file instead of a reader
    std::string pinEnv;    // environment variable holding the PIN
    bool forceLastAttempt = false;
    std::string tracePath;  // --trace: every exchange, one line each
    // How long to wait for a card another program is using.
    std::chrono::seconds cardWait{10};
    // Puts a transport of the caller's between the card and everything else
    // (the tests' fault injection); not reachable from the command line.
    std::function<std::unique_ptr<core::Transport>(core::Transport& card)> wrapCard;
};

struct ReaderInfo {
    std::string name;
    bool cardPresent = false;
    Bytes atr;
};

// The PC/SC readers; fails with advice when there is no PC/SC service.
std::vector<ReaderInfo> listReaders();

struct ChvState {
    bool known = false;    // the card answered the status request
    bool enabled = false;  // CHV1 must be presented
    int attemptsLeft = 0;
};

struct MessageStores {
    std::size_t smsRecords = 0;    // EF_SMS
    std::size_t extraRecords = 0;  // 1F3C, 0 when absent
    bool extraFile = false;
    bool extraIndex = false;
};

class CardSession {
  public:
    // Opens the card, presents CHV1 when the card wants it (never twice, never
    // at the last attempt without forceLastAttempt) and connects the library.
    static std::unique_ptr<CardSession> open(const SessionOptions& options);
    ~CardSession();
    CardSession(const CardSession&) = delete;
    CardSession& operator=(const CardSession&) = delete;

    bool simulated() const { return !simImage_.empty(); }
    const std::string& source() const { return source_; }  // reader name or image path
    const Bytes& atr() const { return atr_; }
    const ChvState& chv() const { return chv_; }
    bool extended() const { return room_.extended; }
    const char* layoutName() const { return room_.extended ? "extended" : "standard"; }
    const PhonebookRoom& room() const { return room_; }
    const MessageStores& stores() const { return stores_; }
    // The ICCID read when the session started, checked by a second read.
    std::string iccid();
    std::string configText();

    // A write reached the card: a simulator image is saved when the session ends.
    void markWritten() { written_ = true; }
    // Before a write: from here on signals only stop the write after the
    // command in flight. `what` names the write for messages ("the phone
    // book"). The card's layout, geometry and option flags were checked
    // against those read when the session started by the reading of its
    // files that every write begins with (in the same PC/SC transaction),
    // so nothing is sent for that here.
    void beginWrite(const std::string& what);
    // Every write call has returned success; a failure after this (the
    // read-back) cannot mean that nothing was changed.
    void endWrite();
    bool writing() const { return writing_; }
    // Every write call of the session returned success.
    bool wroteCard() const { return wrote_; }
    // The backup taken before the write: its path is the restore command's.
    void noteBackup(const std::string& path);
    // Saves the simulator image now (no-op for a reader).
    void save();
    // The simulated card of a --sim session (nullptr for a reader), for tests
    // that watch or disturb its exchanges.
    sim::SimCard* simulatedCard();

  private:
    CardSession() = default;
    void openSimulator(const SessionOptions& options);
    void openReader(const SessionOptions& options);
    // Puts `base`, wrapped in the command counter, beneath the card channel.
    void useTransport(core::Transport& base, const SessionOptions& options);
    void claimCard(const SessionOptions& options);
    void readChvState();
    void presentPin(const SessionOptions& options);
    void connectLibrary();
    void readRoom();
    void readStartFacts();
    std::string readIccidOrFail();

    struct Simulator;
    std::unique_ptr<Simulator> simulator_;
    std::unique_ptr<core::Transport> pcsc_;
    std::unique_ptr<core::Transport> wrapped_;
    std::unique_ptr<core::Transport> trace_;
    std::unique_ptr<core::Transport> guard_;
    std::unique_ptr<core::Transport> interrupt_;
    std::unique_ptr<CountingTransport> counter_;
    core::CardShape shape_;
    std::string iccid_;
    std::string restorePrefix_;  // "zrn --sim IMAGE" or "zrn --reader NAME"
    core::Transport* previousTransport_ = nullptr;
    std::string simImage_;
    std::string source_;
    Bytes atr_;
    ChvState chv_;
    PhonebookRoom room_;
    MessageStores stores_;
    CardHandle handle_ = 0;
    long context_ = 0;
    bool written_ = false;
    bool writing_ = false;
    bool wrote_ = false;
    bool inTransaction_ = false;
};

}  // namespace zrn::cli
