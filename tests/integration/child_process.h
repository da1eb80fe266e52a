#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zrn::integration {

// A program the tests started, stopped by its own pid and nothing else.
class ChildProcess {
  public:
    // Runs in the child between fork and exec; returns an empty string to go
    // on, or what went wrong. Only async-signal-safe calls belong here.
    using BeforeExec = std::function<const char*()>;

    // Starts `argv` with stdout and stderr appended to `logPath`. Throws
    // std::runtime_error when the program cannot be started, naming the
    // reason (including a failure of `beforeExec`).
    ChildProcess(const std::vector<std::string>& argv, const std::string& logPath,
                 const BeforeExec& beforeExec = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Stops the process if it still runs.
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    // The exit status once the process has ended (-signal when killed by one).
    std::optional<int> poll();
    bool running() { return !poll().has_value(); }
    // SIGTERM, then SIGKILL when it has not ended within `grace`; returns the status.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The last lines of a log file, for failure messages.
std::string tailOf(const std::string& path, std::size_t lines = 15);

}  // namespace zrn::integration
