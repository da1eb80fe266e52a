#pragma once

// SIGINT and SIGTERM. The handlers only note the signal. Card work stops at
// the next command: the interrupt transport refuses every command once a
// signal is noted, so a write finishes the command in flight and sends
// nothing after it. The tool then says what the card received and how to put
// back what it held, and ends with 128 + the signal's number.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "core/card.h"

namespace zrn::cli {

// The PC/SC-style error of a command refused after a signal
// (SCARD_E_CANCELLED: no card error looks like it).
inline constexpr long kRefusedAfterSignal = 0x80100002L;

// Installs the handlers (once per process). A second signal while nothing is
// being written ends the tool at once; during a write only the card
// transport's refusal stops it.
void installSignalHandlers();
// The signal noted (SIGINT, SIGTERM), or 0.
int pendingSignal();
// 130 for SIGINT, 143 for SIGTERM.
int exitCodeForSignal(int signal);

// What the card has received of a write, as the commands that went through
// say it: the records and bytes updated with 90 00, by file.
class WriteAccount {
  public:
    void selected(std::uint16_t fileId) { file_ = fileId; }
    void updatedRecord(std::uint8_t record) { records_[file_].insert(record); }
    void updatedBytes(std::size_t offset, std::size_t length);
    bool empty() const { return records_.empty() && bytes_.empty(); }
    // "file 6F3A: records 1-12, 14; file 6F3C: bytes 0-175"
    std::string describe() const;

  private:
    std::uint16_t file_ = 0;
    std::map<std::uint16_t, std::set<int>> records_;
    std::map<std::uint16_t, std::set<std::size_t>> bytes_;
};

// The state of the session's writes, kept for the report after the session
// has ended.
struct WriteState {
    std::string what;            // "the phone book", "the messages"
    std::string restoreCommand;  // "zrn --sim card.json restore zrn-backup-....json"
    bool started = false;        // a write command went to the card
    bool completed = false;      // every write call returned success
    WriteAccount account;
};
WriteState& writeState();
// What puts back what the card held before this command's write: the exact
// restore command of the backup taken first, or, without one, to write again.
std::string restoreAdvice();
// Starts a write: signals are from now on only noted.
void beginWritePhase(const std::string& what);
void endWritePhase();
bool inWritePhase();

// The message after a signal: what was written, what the card may hold and
// the restore command; or that nothing was written. `commandFinished`: the
// command had ended with success all the same.
std::string interruptReport(int signal, bool commandFinished);

// Watches the exchanges: refuses every command once a signal is noted, and
// keeps the write account of the commands the card accepted.
class InterruptTransport : public core::TransportDecorator {
  public:
    using TransportDecorator::TransportDecorator;
    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override;
};

// Runs a command to its exit code: its own, 1-3 for a failure (printed to
// standard error), or 128 + the signal that stopped it, with the report.
int runCommand(const std::function<int()>& command);

// For tests: forgets the noted signal and the write state.
void resetInterruptState();
// For tests: notes `signal` as the handler would.
void noteSignal(int signal);

}  // namespace zrn::cli
