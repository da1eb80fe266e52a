#include <ctime>
#include <iostream>

#include "cli/card_data.h"
#include "cli/commands/commands.h"
#include "cli/commands/support.h"
#include "cli/errors.h"
#include "cli/formats/json_format.h"

namespace zrn::cli::commands {

namespace {

std::vector<StoredSms> recordsToStore(const std::vector<formats::MessageToStore>& messages) {
    std::vector<StoredSms> records;
    int reference = static_cast<int>(std::time(nullptr) & 0xFF);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const auto& m = messages[i];
        if (!m.records.empty()) {
            records.insert(records.end(), m.records.begin(), m.records.end());
            continue;
        }
        formats::MessageToStore item = m;
        item.draft.reference = reference;
        reference = (reference + 1) & 0xFF;
        auto coded = encodeSmsDraft(item.draft);
        if (!coded) {
            fail(kExitUsage, "message " + std::to_string(i + 1) + ": " + coded.error() +
                                 "; nothing was written");
        }
        for (Bytes& r : coded.value()) {
            records.push_back({m.store, 0, std::move(r)});
        }
    }
    return records;
}

}  // namespace

std::vector<StoredSms> parseMessagesFile(const std::string& format, const std::string& content,
                                         const std::string& name) {
    if (format == "raw") {
        const ByteView bytes(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
        auto stored = parseSmsStream(bytes);
        if (!stored) {
            fail(kExitUsage, name + ": " + stored.error());
        }
        return stored.value();
    }
    if (format != "json") {
        fail(kExitUsage, name + ": messages are read from json or raw files, not " + format);
    }
    auto messages = formats::parseMessagesJson(content);
    if (!messages) {
        fail(kExitUsage, name + ": " + messages.error());
    }
    return recordsToStore(messages.value());
}

int smsExport(const GlobalOptions& global, const ExportOptions& options) {
    const std::string format = options.format.empty() ? "json" : options.format;
    if (format != "json" && format != "text" && format != "raw") {
        fail(kExitUsage, "unknown format \"" + format + "\" (json, text or raw)");
    }
    if (options.deleted && format == "raw") {
        fail(kExitUsage,
             "--deleted works with the json and text formats: the raw stream holds "
             "the live messages only");
    }
    auto session = CardSession::open(global.session);
    const MessagesSnapshot snapshot = readMessages(*session);
    std::vector<StoredSms> deleted;
    if (options.deleted) {
        deleted = deletedMessagesOf(readImages(*session, {false, true}));
    }
    std::string data;
    if (format == "json") {
        nlohmann::ordered_json doc = formats::messagesToJson(snapshot.stored);
        if (options.deleted) {
            doc["deleted"] = deletedMessagesJson(deleted);
        }
        data = doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    } else if (format == "text") {
        data = messagesText(snapshot.stored);
        if (options.deleted) {
            data += deletedMessagesText(deleted);
        }
    } else {
        data.assign(snapshot.stream.begin(), snapshot.stream.end());
    }
    writeOutput(options.output, data);
    return kExitOk;
}

int smsImport(const GlobalOptions& global, const ImportOptions& options) {
    const std::string content = readInput(options.file);
    std::string format = detectFormat(options.format, options.file, content);
    const std::vector<StoredSms> records = parseMessagesFile(format, content, options.file);
    auto session = CardSession::open(global.session);
    const PreparedMessages prepared = prepareMessages(*session, records);
    if (options.dryRun) {
        std::cout << "Dry run: nothing is written. The card would hold:\n"
                  << messagesText(prepared.expected);
        return kExitOk;
    }
    backupBeforeWrite(*session, options, false, true);
    writeMessages(*session, prepared);
    std::cerr << "wrote " << prepared.expected.size() << " message(s); read back and verified\n";
    return kExitOk;
}

}  // namespace zrn::cli::commands
