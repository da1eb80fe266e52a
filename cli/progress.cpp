#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/command_counter.h"

namespace zrn::cli {

namespace {
bool gEnabled = true;
constexpr int kWidth = 30;
}  // namespace

void Progress::setEnabled(bool enabled) {
    gEnabled = enabled;
}

Progress::Progress(std::string label, std::size_t expectedCommands)
    : label_(std::move(label)),
      expected_(std::max<std::size_t>(expectedCommands, 1)),
      start_(commandsSent()),
      active_(gEnabled && isatty(STDERR_FILENO) == 1) {
    if (active_) {
        setCommandObserver([this](std::size_t sent) { draw(sent); });
        draw(start_);
    }
}

Progress::~Progress() {
    if (active_) {
        setCommandObserver(nullptr);
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}

void Progress::draw(std::size_t sent) {
    const std::size_t done = std::min(sent - start_, expected_);
    const int percent = static_cast<int>(done * 100 / expected_);
    if (percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%% (%zu/%zu commands)", label_.c_str(), filled,
                 "##############################", kWidth - filled, "", percent, done, expected_);
    std::fflush(stderr);
}

}  // namespace zrn::cli
