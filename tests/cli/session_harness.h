#pragma once

// The tool's commands run in this process on a simulator card image in a
// temporary folder, with a transport of the test's between the card and the
// tool: one fault at a chosen command, or a hook that sees every exchange.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands/commands.h"
#include "cli/interrupt.h"
#include "core/card.h"

namespace zrn::cli::test {

// One injected fault: a status word of one class, or (0) a failed exchange.
struct Fault {
    const char* name;
    std::uint16_t statusWord;
};

inline constexpr Fault kFaults[] = {
    {"94 04", 0x9404}, {"98 04", 0x9804}, {"6B 00", 0x6B00},
    {"6F 00", 0x6F00}, {"92 40", 0x9240}, {"transport", 0},
};

inline constexpr long kTransportFailure = 0x80100016L;  // SCARD_E_NOT_TRANSACTED

inline bool isUpdate(ByteView command) {
    const core::CommandKind kind = core::commandKind(command);
    return kind == core::CommandKind::kUpdateRecord || kind == core::CommandKind::kUpdateBinary;
}

struct Run {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::size_t commands = 0;                // commands the tool sent, the faulty one included
    std::optional<std::size_t> firstUpdate;  // the number of the first update command
    std::size_t lastUpdate = 0;
    std::size_t updatesAfterFault = 0;  // updates that reached the card after the fault
};

// Answers command `at` (1-based) with the fault instead of passing it on; an
// optional hook sees every command before it goes.
class FaultAt : public core::TransportDecorator {
  public:
    struct Plan {
        std::size_t at = 0;
        Fault fault{};
    };
    // Sees a command before it goes, and may change the answer it got.
    using Hook = std::function<void(std::size_t number, ByteView command)>;
    using Tamper = std::function<void(std::size_t number, ByteView command, std::uint8_t* response,
                                      std::uint32_t& length)>;

    FaultAt(core::Transport& inner, std::optional<Plan> plan, Run& run, Hook hook, Tamper tamper)
        : TransportDecorator(inner),
          plan_(plan),
          run_(run),
          hook_(std::move(hook)),
          tamper_(std::move(tamper)) {}

    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override {
        const std::size_t number = ++run_.commands;
        if (hook_) {
            hook_(number, command);
        }
        if (plan_ && number == plan_->at) {
            faulted_ = true;
            if (plan_->fault.statusWord == 0) {
                responseLength = 0;
                return kTransportFailure;
            }
            response[0] = static_cast<std::uint8_t>(plan_->fault.statusWord >> 8);
            response[1] = static_cast<std::uint8_t>(plan_->fault.statusWord);
            responseLength = 2;
            return 0;
        }
        if (isUpdate(command)) {
            if (!run_.firstUpdate) {
                run_.firstUpdate = number;
            }
            run_.lastUpdate = number;
            run_.updatesAfterFault += faulted_ ? 1 : 0;
        }
        const long rv = forward(handle, command, response, responseLength);
        if (tamper_ && rv == 0) {
            tamper_(number, command, response, responseLength);
        }
        return rv;
    }

  private:
    std::optional<Plan> plan_;
    Run& run_;
    Hook hook_;
    Tamper tamper_;
    bool faulted_ = false;
};

// A backup without its creation time, which differs from run to run.
inline std::string withoutTime(const std::string& text) {
    if (text.empty()) {
        return text;
    }
    auto doc = nlohmann::ordered_json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        return text;
    }
    doc.erase("created");
    return doc.dump();
}

// Where two texts part, briefly.
inline std::string difference(const std::string& got, const std::string& wanted) {
    std::size_t i = 0;
    while (i < got.size() && i < wanted.size() && got[i] == wanted[i]) {
        ++i;
    }
    const std::size_t from = i > 30 ? i - 30 : 0;
    return "differs at " + std::to_string(i) + ": got \"" + got.substr(from, 70) + "\", wanted \"" +
           wanted.substr(from, 70) + "\"";
}

inline std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

inline std::string firstLines(const std::vector<std::string>& lines, std::size_t most) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < most; ++i) {
        text += lines[i] + "\n";
    }
    return text;
}

class Workspace {
  public:
    Workspace() {
        char pattern[] = "/tmp/zrn-session-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            dir_ = pattern;
        }
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void spit(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string slurp(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Runs `command` on the card image card.json as zrn's main would, with
    // the fault (if any) and the hook beneath the tool's own transports.
    Run runCommand(const std::function<int(const commands::GlobalOptions&)>& command,
                   std::optional<FaultAt::Plan> plan = std::nullopt, FaultAt::Hook hook = nullptr,
                   const std::string& trace = "", FaultAt::Tamper tamper = nullptr) const {
        Run run;
        commands::GlobalOptions global;
        global.session.simImage = path("card.json");
        global.session.tracePath = trace;
        global.session.wrapCard = [&](core::Transport& card) {
            return std::make_unique<FaultAt>(card, plan, run, hook, tamper);
        };
        resetInterruptState();
        std::ostringstream out;
        std::ostringstream err;
        std::streambuf* savedOut = std::cout.rdbuf(out.rdbuf());
        std::streambuf* savedErr = std::cerr.rdbuf(err.rdbuf());
        run.exitCode = cli::runCommand([&] { return command(global); });
        std::cout.rdbuf(savedOut);
        std::cerr.rdbuf(savedErr);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

  private:
    std::filesystem::path dir_;
};

}  // namespace zrn::cli::test
