#pragma once

// vCard: 3.0 out (RFC 2426); 2.1, 3.0 and 4.0 (RFC 6350) in, including the
// quoted-printable, CHARSET-tagged cards old phones and phone managers write.

#include <string>
#include <string_view>

#include "cli/formats/imported.h"
#include "cli/outcome.h"
#include "cli/phonebook_model.h"

namespace zrn::cli::formats {

std::string writeVcards(const Phonebook& phonebook);
// Never throws; a file with no vCard at all, or with NUL bytes, is an error.
// `charset` names the file's charset when it is not UTF-8 (or UTF-16 with a
// byte-order mark); a value's own CHARSET parameter still wins.
Outcome<ImportedPhonebook> parseVcards(std::string_view bytes, const std::string& charset = "");

}  // namespace zrn::cli::formats
