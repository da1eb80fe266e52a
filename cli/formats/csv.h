#pragma once

// CSV per RFC 4180 with a header row:
//   name,general,mobile,home,work,other,note1,note2,groups,group_numbers
// A number cell may hold several numbers separated by ';'; the groups cell
// holds group names separated by ';' (a literal ';' written as "\;"), and
// group_numbers their numbers, so that a file read back keeps them.

#include <string>
#include <string_view>
#include <vector>

#include "cli/formats/imported.h"
#include "cli/outcome.h"
#include "cli/phonebook_model.h"

namespace zrn::cli::formats {

std::string writeCsv(const Phonebook& phonebook);
// Reads this tool's CSV and the address books' (Google Contacts, Outlook,
// Thunderbird, phone makers'). `charset` names the file's charset when it is
// neither UTF-8 nor UTF-16 with a byte-order mark. Columns with data the tool
// cannot store are listed in `losses`.
Outcome<ImportedPhonebook> parseCsv(std::string_view bytes, const std::string& charset = "");

// RFC 4180 records; fails on a quote that is never closed.
Outcome<std::vector<std::vector<std::string>>> parseCsvRecords(std::string_view text);

}  // namespace zrn::cli::formats
