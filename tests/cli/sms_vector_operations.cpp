#include "test_vectors.h"

namespace zrn::cli::testing {

void addSmsOperations(std::map<std::string, Operation>&) {}

}  // namespace zrn::cli::testing
