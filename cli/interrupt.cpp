#include "cli/interrupt.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "cli/errors.h"
#include "cli/text/terminal.h"

namespace zrn::cli {

namespace {

volatile std::sig_atomic_t gSignal = 0;
volatile std::sig_atomic_t gWriting = 0;

extern "C" void onSignal(int signal) {
    if (gSignal != 0 && gWriting == 0) {
        // Asked twice while nothing is being written: no file is half-saved
        // (they are renamed into place), so stopping here is safe.
        _exit(exitCodeForSignal(signal));
    }
    gSignal = signal;
}

constexpr std::uint8_t kSw1Ok = 0x90;
constexpr std::size_t kHeader = 5;  // CLA INS P1 P2 P3

bool accepted(const std::uint8_t* response, std::uint32_t length) {
    return length >= 2 && response[length - 2] == kSw1Ok && response[length - 1] == 0x00;
}

// "1-12, 14"
template <typename T>
std::string ranges(const std::set<T>& values) {
    std::ostringstream out;
    bool first = true;
    for (auto it = values.begin(); it != values.end();) {
        const T start = *it;
        T end = start;
        ++it;
        while (it != values.end() && *it == end + 1) {
            end = *it;
            ++it;
        }
        out << (first ? "" : ", ") << start;
        if (end != start) {
            out << "-" << end;
        }
        first = false;
    }
    return out.str();
}

std::string fileName(std::uint16_t fileId) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", fileId);
    return std::string("file ") + text;
}

// Keeps the account of what a write reached: the file selected last, and the
// updates the card accepted.
void noteExchange(ByteView command, bool ok) {
    WriteAccount& account = writeState().account;
    switch (core::commandKind(command)) {
        case core::CommandKind::kSelect:
            if (command.size() >= kHeader + 2) {
                account.selected(
                    static_cast<std::uint16_t>(command[kHeader] << 8 | command[kHeader + 1]));
            }
            break;
        case core::CommandKind::kUpdateRecord:
            if (ok) {
                account.updatedRecord(command[2]);
            }
            break;
        case core::CommandKind::kUpdateBinary:
            if (ok) {
                account.updatedBytes(static_cast<std::size_t>(command[2] << 8 | command[3]),
                                     command[4]);
            }
            break;
        default:
            break;
    }
}

}  // namespace

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read of a terminal or a pipe returns, and the tool stops.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int pendingSignal() {
    return gSignal;
}

void noteSignal(int signal) {
    gSignal = signal;
}

int exitCodeForSignal(int signal) {
    return 128 + signal;
}

void WriteAccount::updatedBytes(std::size_t offset, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        bytes_[file_].insert(offset + i);
    }
}

std::string WriteAccount::describe() const {
    std::ostringstream out;
    bool first = true;
    for (const auto& [file, records] : records_) {
        out << (first ? "" : "; ") << fileName(file) << ": record(s) " << ranges(records);
        first = false;
    }
    for (const auto& [file, bytes] : bytes_) {
        out << (first ? "" : "; ") << fileName(file) << ": byte(s) " << ranges(bytes);
        first = false;
    }
    return out.str();
}

WriteState& writeState() {
    static WriteState state;
    return state;
}

std::string restoreAdvice() {
    const std::string& command = writeState().restoreCommand;
    return command.empty() ? "no backup was saved (--no-backup): write it again"
                           : "to put back what it held before, run: " + command;
}

void beginWritePhase(const std::string& what) {
    WriteState& state = writeState();
    state.what = what;
    state.started = true;
    state.completed = false;
    gWriting = 1;
}

void endWritePhase() {
    writeState().completed = true;
    gWriting = 0;
}

bool inWritePhase() {
    return gWriting != 0;
}

void resetInterruptState() {
    gSignal = 0;
    gWriting = 0;
    writeState() = WriteState{};
}

std::string interruptReport(int signal, bool commandFinished) {
    const WriteState& state = writeState();
    std::ostringstream out;
    out << "interrupted by "
        << (signal == SIGINT    ? "SIGINT"
            : signal == SIGTERM ? "SIGTERM"
                                : "a signal")
        << ".";
    if (!state.started) {
        out << " Nothing was written to the card.";
        return out.str();
    }
    if (commandFinished) {
        out << " The command had finished: the card was written and checked.";
        return out.str();
    }
    const std::string written = state.account.empty() ? "nothing" : state.account.describe();
    if (state.completed && !gWriting) {
        out << " The write of " << state.what << " had finished (written: " << written
            << "); nothing was written after it, and what was written may not have been read "
               "back and checked.";
    } else {
        out << " The command in flight was finished; nothing was sent after it.\n";
        out << "Written to the card while writing " << state.what << ": " << written << ".\n";
        out << "The card may hold a partial phone book or message store.";
    }
    if (!state.restoreCommand.empty()) {
        out << " To put back what it held before, run:\n  " << state.restoreCommand;
    } else {
        out << " No backup was saved (--no-backup): write the phone book or messages again.";
    }
    return out.str();
}

int runCommand(const std::function<int()>& command) {
    int code = kExitOk;
    std::string failure;
    try {
        code = command();
    } catch (const CliError& e) {
        failure = e.what();
        code = e.exitCode();
    } catch (const std::exception& e) {
        failure = e.what();
        code = kExitCard;
    }
    if (const int signal = pendingSignal(); signal != 0) {
        // A card error caused by the refusal after the signal says nothing
        // the report does not say better.
        std::cerr << "zrn: " << interruptReport(signal, failure.empty() && code == kExitOk) << "\n";
        return exitCodeForSignal(signal);
    }
    if (!failure.empty()) {
        // Errors may quote a name from the card or a line from a file.
        std::cerr << "zrn: " << text::terminalLines(failure) << "\n";
    }
    return code;
}

long InterruptTransport::transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                                  std::uint32_t& responseLength) {
    if (gSignal != 0) {
        responseLength = 0;
        return kRefusedAfterSignal;
    }
    const long rv = forward(handle, command, response, responseLength);
    if (rv == 0 && command.size() >= kHeader) {
        noteExchange(command, accepted(response, responseLength));
    }
    return rv;
}

}  // namespace zrn::cli
