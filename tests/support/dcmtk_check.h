#pragma once
// DCMTK's dcmdump as an independent reader of files the tests write.
#include <string>

namespace velmo::test {

// True when dcmdump is on the PATH.
bool HaveDcmdump();
// Runs dcmdump on `path`. True when it read the whole file without an error or a
// warning; its listing (standard output and standard error) goes to *listing.
bool DcmdumpParses(const std::string& path, std::string* listing);

}  // namespace velmo::test
