#pragma once

#include <string>
#include <vector>

#include "cli/phonebook_model.h"

namespace zrn::cli::formats {

// A phone book read from a file, with what the reader could not take over.
struct ImportedPhonebook {
    Phonebook phonebook;
    std::vector<std::string> warnings;
};

// Assigns group numbers to group names in order of first appearance, keeping
// numbers a file states itself (X-ZRN-GROUPS, group_numbers).
class GroupAllocator {
  public:
    // The number of `name`; `wanted` is the number the file gives, 0 for none.
    // Returns 0 when all eight groups are taken (a warning is added).
    int numberFor(const std::string& name, int wanted, std::vector<std::string>& warnings);
    std::vector<Group> groups() const;

  private:
    std::vector<Group> groups_;
};

}  // namespace zrn::cli::formats
