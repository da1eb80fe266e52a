#pragma once

#include <cstddef>
#include <functional>

namespace zrn::cli {

// Called after every command the channel sends, with the count so far.
using CommandObserver = std::function<void(std::size_t sent)>;

// Commands sent since the program started, and an observer for the progress bar.
std::size_t commandsSent();
void setCommandObserver(CommandObserver observer);
// Counts one command sent and tells the observer.
void noteCommandSent();

}  // namespace zrn::cli
