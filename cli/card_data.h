#pragma once

// Reading and writing the card's phone book and messages through the library,
// with the safety steps around every write: backup first, read back after.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/card_session.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"

namespace zrn::cli {

struct PhonebookSnapshot {
    Bytes stream;
    std::int32_t count = 0;
    RawPhonebook raw;
    Phonebook phonebook;
};

PhonebookSnapshot readPhonebook(CardSession& session);
// Writes, then reads back and compares; fails with the first difference.
void writePhonebook(CardSession& session, const Bytes& stream, std::int32_t count,
                    const RawPhonebook& expected);

struct MessagesSnapshot {
    Bytes stream;
    std::vector<StoredSms> stored;
};

MessagesSnapshot readMessages(CardSession& session);
// Deleted messages: the free records of EF_SMS and of the extra message file
// whose bytes still hold a message (the library's reader skips free records).
// `position` is the record number in its file; records of the extra file are
// LMS unless its index marks them EMS. Fails (exit code 2) when a record
// cannot be read.
std::vector<StoredSms> readDeletedMessages(CardSession& session);
// The stream that replaces every message on the card with `messages`
// (records of the free status fill the rest of each store). Checked against
// the card's stores before anything is written; fails with exit code 1.
struct PreparedMessages {
    Bytes stream;
    std::int32_t count = 0;
    std::vector<StoredSms> expected;  // what the card returns afterwards, in order
};
PreparedMessages prepareMessages(CardSession& session, const std::vector<StoredSms>& messages);
// Writes, then reads back and compares.
void writeMessages(CardSession& session, const PreparedMessages& prepared);

// The backup document: the raw streams (lossless) and their decoded view;
// with the messages, the deleted ones recovered from free records, which a
// restore does not write back.
nlohmann::ordered_json backupDocument(CardSession& session, const PhonebookSnapshot* phonebook,
                                      const MessagesSnapshot* messages);
// Writes a backup of what `parts` names ("phonebook", "messages" or both) to
// `path` (empty: a time-stamped file name in the current directory). Returns the path.
std::string saveBackup(CardSession& session, const std::string& path, bool phonebook,
                       bool messages);

// What the human-readable views show.
std::string phonebookText(const Phonebook& phonebook);
std::string messagesText(const std::vector<StoredSms>& stored);
std::string deletedMessagesText(const std::vector<StoredSms>& deleted);
// The deleted messages as the entries of a messages document, each marked
// "deleted": true.
nlohmann::ordered_json deletedMessagesJson(const std::vector<StoredSms>& deleted);

}  // namespace zrn::cli
