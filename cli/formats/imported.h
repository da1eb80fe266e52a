#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/phonebook_model.h"

namespace zrn::cli::formats {

// A phone book read from a file, with what the reader could not take over.
struct ImportedPhonebook {
    Phonebook phonebook;
    std::vector<std::string> warnings;  // told to the user; nothing of the file is lost
    // Numbers, notes, contacts or columns of the file that are not imported:
    // an import writes nothing while there are any, unless the user accepts it.
    std::vector<std::string> losses;
};

// Assigns group numbers to group names in order of first appearance, keeping
// numbers a file states itself (X-ZRN-GROUPS, group_numbers).
class GroupAllocator {
  public:
    // The number of `name`; `wanted` is the number the file gives, 0 for none.
    // Returns 0 when all eight groups are taken (the dropped membership is
    // added to `losses`).
    int numberFor(const std::string& name, int wanted, std::vector<std::string>& losses);
    std::vector<Group> groups() const;

  private:
    std::vector<Group> groups_;
};

// The parts of a structured name, as vCard N and address-book columns give them.
struct NameParts {
    std::string prefix;
    std::string given;
    std::string middle;
    std::string family;
    std::string suffix;
};

// "Dr. John Philip Stevenson Jr."; a Chinese, Japanese or Korean name is
// written family name first with no space ("张三").
std::string composeName(const NameParts& parts);

// True when `text` holds a Han, kana or Hangul character.
bool hasCjk(std::string_view text);

// `text` without the white space around it (ASCII, no-break and ideographic spaces).
std::string trimmed(std::string_view text);

// A number with an extension written after it ("555 1234 ext. 12", "x12"):
// the extension follows a pause (p), as a phone dials it. Other text unchanged.
std::string withExtensionAsPause(const std::string& number);

}  // namespace zrn::cli::formats
