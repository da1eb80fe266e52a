#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zrn::cli {

// The program's exit codes.
enum ExitCode : int { kExitOk = 0, kExitUsage = 1, kExitCard = 2, kExitPin = 3 };

// What ends a command: the message says what happened and what to do.
class CliError : public std::runtime_error {
  public:
    CliError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

  private:
    int exitCode_;
};

[[noreturn]] inline void fail(int exitCode, const std::string& message) {
    throw CliError(exitCode, message);
}

// The library's message for `code` in UTF-8 (converted from code page 936).
std::string libraryMessage(std::int32_t code);
// The English gloss of the message, or of the situation behind a code that has none.
std::string libraryGloss(std::int32_t code);
// "ReadZRN answered 2: SIM卡错误(读、写卡错误). (SIM card error ...)"
std::string describeResult(const std::string& call, std::int32_t code);
// Fails with exit code 2 and the library's result and advice.
[[noreturn]] void failLibrary(const std::string& call, std::int32_t code,
                              const std::string& advice);

}  // namespace zrn::cli
