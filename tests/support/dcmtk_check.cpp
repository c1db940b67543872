#include "support/dcmtk_check.h"

#include "support/test_util.h"

namespace velmo::test {

bool HaveDcmdump() { return RunCommand("command -v dcmdump >/dev/null 2>&1").status == 0; }

bool DcmdumpParses(const std::string& path, std::string* listing) {
  // +E: errors to stderr; -q would hide warnings, which we want to see.
  const CommandResult r = RunCommand("dcmdump +L " + ShellQuote(path));
  *listing = r.out + r.err;
  return r.status == 0 && r.err.find("E: ") == std::string::npos && r.err.find("W: ") == std::string::npos;
}

}  // namespace velmo::test
