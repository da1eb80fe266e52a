#include <algorithm>
#include <iostream>

#include "cli/atomic_file.h"
#include "cli/commands/commands.h"
#include "cli/errors.h"

namespace zrn::cli::commands {

namespace {
constexpr std::size_t kMaxInput = 64 * 1024 * 1024;

std::string extensionOf(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) {
        return {};
    }
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}
}  // namespace

std::string readInput(const std::string& path) {
    return readFileLimited(path, kMaxInput);
}

void writeOutput(const std::string& path, const std::string& data) {
    if (path == "-") {
        std::cout << data;
        std::cout.flush();
        if (!std::cout) {
            fail(kExitFileWrite, "cannot write to standard output");
        }
        return;
    }
    replaceFile(path, data);
}

std::string detectFormat(const std::string& named, const std::string& path,
                         const std::string& content) {
    if (!named.empty()) {
        return named;
    }
    const std::string ext = extensionOf(path);
    if (ext == "json") {
        return "json";
    }
    if (ext == "vcf" || ext == "vcard") {
        return "vcard";
    }
    if (ext == "csv") {
        return "csv";
    }
    if (ext == "bin" || ext == "raw") {
        return "raw";
    }
    const auto first = content.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (first != std::string::npos && content[first] == '{') {
        return "json";
    }
    if (!content.empty() && content[0] == '\x01') {
        return "raw";
    }
    std::string head = content.substr(0, 4096);
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (head.find("BEGIN:VCARD") != std::string::npos) {
        return "vcard";
    }
    return "csv";
}

}  // namespace zrn::cli::commands
