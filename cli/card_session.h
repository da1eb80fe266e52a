#pragma once

// One card for the length of a command: a PC/SC reader or a simulator image,
// CHV1 handled once, the library connected, and what the card can hold.

#include <cstdint>
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
    std::string iccid();
    std::string configText();

    // A write reached the card: a simulator image is saved when the session ends.
    void markWritten() { written_ = true; }
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
    void useTransport(core::Transport& base);
    void readChvState();
    void presentPin(const SessionOptions& options);
    void connectLibrary();
    void readRoom();

    struct Simulator;
    std::unique_ptr<Simulator> simulator_;
    std::unique_ptr<core::Transport> pcsc_;
    std::unique_ptr<CountingTransport> counter_;
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
};

}  // namespace zrn::cli
