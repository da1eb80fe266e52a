#pragma once

// The tool's JSON documents (described in docs/cli.md): the phone book, the
// messages and the backup that holds both with the card's raw streams.

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/outcome.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"

namespace zrn::cli::formats {

nlohmann::ordered_json phonebookToJson(const Phonebook& phonebook, std::string_view layout);
// Takes a phone-book document, or a backup (its "phonebook" member).
Outcome<Phonebook> phonebookFromJson(const nlohmann::json& document);

nlohmann::ordered_json messagesToJson(const std::vector<StoredSms>& stored);

// A message to store: records as they were, or a draft to be coded.
struct MessageToStore {
    std::vector<StoredSms> records;  // from "parts"; empty for a draft
    SmsDraft draft;
    std::string store = "CMS";
};
// Takes a messages document, or a backup (its "messages" member).
Outcome<std::vector<MessageToStore>> messagesFromJson(const nlohmann::json& document);

// Parses text, refusing nesting deeper than any document of the tool needs
// (so hostile input cannot exhaust the stack).
Outcome<nlohmann::json> parseJson(std::string_view text);

// Whole-file parsers for fuzzing and the commands.
Outcome<Phonebook> parsePhonebookJson(std::string_view text);
Outcome<std::vector<MessageToStore>> parseMessagesJson(std::string_view text);

}  // namespace zrn::cli::formats
