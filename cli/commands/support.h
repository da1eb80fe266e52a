#pragma once

// Steps the phone-book and restore commands share.

#include <string>
#include <vector>

#include "cli/card_data.h"
#include "cli/card_session.h"
#include "cli/commands/commands.h"
#include "cli/formats/imported.h"
#include "cli/outcome.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"

namespace zrn::cli::commands {

Outcome<formats::ImportedPhonebook> parsePhonebookFile(const std::string& format,
                                                       const std::string& content,
                                                       const std::string& charset = "");
std::string dryRunText(const EncodedPhonebook& encoded, const CardSession& session);
void reportIssues(const std::vector<Issue>& issues);
// Reports the issues; fails when something is refused, or lost without --allow-loss.
void checkIssues(const EncodedPhonebook& encoded, const ImportOptions& options);
// Reads the card whole (a failure stops the write, --no-backup or not) and,
// unless --no-backup, saves it as a backup first. Returns what was read.
CardCopy backupBeforeWrite(CardSession& session, const ImportOptions& options, bool phonebook,
                           bool messages);
void writeEncodedPhonebook(CardSession& session, const EncodedPhonebook& encoded,
                           const images::CardImages& before);
// Messages from a json or raw file, drafts coded; fails with exit code 1.
std::vector<StoredSms> parseMessagesFile(const std::string& format, const std::string& content,
                                         const std::string& name);

}  // namespace zrn::cli::commands
