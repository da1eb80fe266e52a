#pragma once

#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zrn::cli::testing {

using Operation = std::function<std::string(const std::vector<std::string>&)>;

const std::map<std::string, Operation>& vectorOperations();
// The short-message operations, kept with the message tests.
void addSmsOperations(std::map<std::string, Operation>& operations);
// The contacts-file operations (vCard, CSV), kept with the format tests.
void addFormatOperations(std::map<std::string, Operation>& operations);

}  // namespace zrn::cli::testing
