#pragma once

#include <cstddef>
#include <string>

namespace zrn::cli {

// A progress bar on stderr while it lives, drawn only when stderr is a
// terminal: commands sent against the count the geometry leads us to expect.
class Progress {
  public:
    Progress(std::string label, std::size_t expectedCommands);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    static void setEnabled(bool enabled);

  private:
    void draw(std::size_t sent);

    std::string label_;
    std::size_t expected_;
    std::size_t start_;
    bool active_;
    int lastPercent_ = -1;
};

}  // namespace zrn::cli
