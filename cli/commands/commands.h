#pragma once

#include <string>

#include "cli/card_session.h"

namespace zrn::cli::commands {

struct GlobalOptions {
    SessionOptions session;
};

struct ExportOptions {
    std::string format;
    std::string output = "-";
    bool deleted = false;  // sms export: also the deleted messages still in free records
};

struct ImportOptions {
    std::string file;
    std::string format;
    bool dryRun = false;
    std::string backup;  // empty: a time-stamped file
    bool noBackup = false;
    bool allowLoss = false;
    std::string plusAs;   // "00" or empty
    std::string charset;  // of a CSV or vCard file; empty: UTF-8, or UTF-16 found by its mark
};

int readers(const GlobalOptions& global);
int info(const GlobalOptions& global);
int show(const GlobalOptions& global);
int phonebookExport(const GlobalOptions& global, const ExportOptions& options);
int phonebookImport(const GlobalOptions& global, const ImportOptions& options);
int smsExport(const GlobalOptions& global, const ExportOptions& options);
int smsImport(const GlobalOptions& global, const ImportOptions& options);
int backup(const GlobalOptions& global, const ExportOptions& options);
int restore(const GlobalOptions& global, const ImportOptions& options);
int errmsg(const std::string& code);

// --- shared by the commands -----------------------------------------------------

std::string readInput(const std::string& path);
void writeOutput(const std::string& path, const std::string& data);
// The format named, or the one the file name or content suggests.
std::string detectFormat(const std::string& named, const std::string& path,
                         const std::string& content);

}  // namespace zrn::cli::commands
