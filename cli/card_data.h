#pragma once

// Reading and writing the card's phone book and messages through the library,
// with the safety steps around every write: backup first, read back after.

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/card_session.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"
#include "core/card_images.h"

namespace zrn::cli {

struct PhonebookSnapshot {
    Bytes stream;
    std::int32_t count = 0;
    RawPhonebook raw;
    Phonebook phonebook;
};

// The card's files of `parts`, each read once. Fails (exit code 2) when a
// file cannot be read (a file the card says does not exist is kept as
// absent) or when the files disagree with what the session found: a layout,
// configuration or message store that changed.
images::CardImages readImages(CardSession& session, images::Parts parts);
// The phone book those files hold, each number with the '+' its TON/NPI gives.
PhonebookSnapshot phonebookOf(const images::CardImages& images);
PhonebookSnapshot readPhonebook(CardSession& session);

// Writes `encoded` as the card's files: the images the library's writer
// would make for its stream, with the TON/NPI 91 of its international
// numbers, sent only where they differ from `before` (the files just read);
// then reads back every record and piece written and compares it byte for
// byte, and the phone book the files now hold with `encoded`. Fails with the
// first difference.
void writePhonebook(CardSession& session, const EncodedPhonebook& encoded,
                    const images::CardImages& before);

// What a restore of a backup's images writes: the files of `parts` in the
// backup, when the card has the backup's layout, phone-book directory and
// the same size and record length for every one of them (and the same
// configuration and option bytes). Otherwise nothing, and why not.
struct ImageRestorePlan {
    std::optional<images::CardImages> target;
    std::string whyNot;
};
ImageRestorePlan planImageRestore(const images::CardImages& backup, const images::CardImages& card,
                                  images::Parts parts);
// Writes the plan's images where they differ from `before`, reads back what
// was written and compares it byte for byte. Returns what was sent and the
// files the card now holds.
struct RestoredImages {
    images::WriteReport report;
    images::CardImages now;
};
RestoredImages restoreImages(CardSession& session, const images::CardImages& target,
                             const images::CardImages& before);

struct MessagesSnapshot {
    Bytes stream;
    std::vector<StoredSms> stored;
};

MessagesSnapshot readMessages(CardSession& session);
// The messages as ReadSMS returns them, from the images of the message stores.
MessagesSnapshot messagesOf(const images::CardImages& images);
// Deleted messages: the free records of EF_SMS and of the extra message file
// whose bytes still hold a message (the library's reader skips free records).
// `position` is the record number in its file; records of the extra file are
// LMS unless its index marks them EMS.
std::vector<StoredSms> deletedMessagesOf(const images::CardImages& images);
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

// Everything a backup holds, from one reading of each file.
struct CardCopy {
    images::CardImages images;
    std::optional<PhonebookSnapshot> phonebook;
    std::optional<MessagesSnapshot> messages;
    std::vector<StoredSms> deleted;
};
// Reads the files of the parts asked for; fails (exit code 2) as readImages.
CardCopy readCard(CardSession& session, bool phonebook, bool messages);

// The backup document: the card's file images with the layout and geometry,
// the raw streams (lossless) and their decoded view; with the messages, the
// deleted ones recovered from free records.
nlohmann::ordered_json backupDocument(CardSession& session, const CardCopy& copy);
// Writes the backup of `copy` to `path` (empty: a new time-stamped file name
// in the current directory). Returns the path.
std::string saveBackup(CardSession& session, const std::string& path, const CardCopy& copy);

// What the human-readable views show.
std::string phonebookText(const Phonebook& phonebook);
std::string messagesText(const std::vector<StoredSms>& stored);
std::string deletedMessagesText(const std::vector<StoredSms>& deleted);
// The deleted messages as the entries of a messages document, each marked
// "deleted": true.
nlohmann::ordered_json deletedMessagesJson(const std::vector<StoredSms>& deleted);

}  // namespace zrn::cli
