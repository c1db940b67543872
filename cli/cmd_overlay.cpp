#include <iostream>

#include "cli_common.h"

namespace velmo::cli {
int RunOverlay(const std::vector<std::string>&) {
  std::cerr << "velmo-cli overlay: not available\n";
  return kExitFailed;
}
}  // namespace velmo::cli
