#pragma once
// The archive nodes and the retrieve folder, kept in Velmo.ini, section "PACS".
// Shared keys: "AETitle" (ours), "Timeout", "Folder", "MaxResults", "MovePort",
// "Nodes" (how many nodes), "Current" (the one in use, from 1). Per node: "CalledAE",
// "Host", "Port", and for DICOM TLS "TLS" (1: on), "CAFile", "CertFile", "KeyFile";
// the first node uses these names as they stand (as a file with a single node has
// them), node n from 2 on adds n to each name ("Host2", "CalledAE2", ...).
#include <cstddef>
#include <string>
#include <vector>

#include "pacs/pacs.h"

namespace velmo::pacs {

struct Settings {
  // The archive nodes, never empty. Each carries our AE title and the timeout too.
  std::vector<Node> nodes{Node{}};
  size_t current = 0;  // index into nodes
  // Where retrieved files go: "Folder" of the section, a relative one taken against
  // the installation folder; by default "PACS" there.
  std::string folder;
  int resultCap = 500;  // C-FIND answers shown at most; the rest is cancelled
  // The port of the C-MOVE receiver, used when the archive refuses C-GET ("MovePort";
  // 0, the default: off). It accepts only the archive's AE title and host.
  uint16_t movePort = 0;

  Node& node() { return nodes[current < nodes.size() ? current : 0]; }
  const Node& node() const { return nodes[current < nodes.size() ? current : 0]; }
};

constexpr size_t kMaxNodes = 32;

// Reads the section (missing keys keep their defaults; a port outside 1..65535 or an
// AE title longer than 16 characters falls back to the default).
Settings LoadSettings();
// Writes the section; our AE title ("AETitle") is the current node's. False when
// Velmo.ini could not be written.
bool SaveSettings(const Settings& s);
// The retrieve folder as a full path.
std::string RetrieveFolder(const Settings& s);

}  // namespace velmo::pacs
