#pragma once
// The archive node and the retrieve folder, kept in Velmo.ini, section "PACS": keys
// "AETitle", "CalledAE", "Host", "Port", "Timeout", "Folder", "MaxResults",
// "MovePort", and for DICOM TLS "TLS" (1: on), "CAFile", "CertFile", "KeyFile".
#include <string>

#include "pacs/pacs.h"

namespace velmo::pacs {

struct Settings {
  Node node;
  // Where retrieved files go: "Folder" of the section, a relative one taken against
  // the installation folder; by default "PACS" there.
  std::string folder;
  int resultCap = 500;
  // The port of the C-MOVE receiver, used when the archive refuses C-GET ("MovePort";
  // 0, the default: off). It accepts only the archive's AE title and host.
  uint16_t movePort = 0;  // C-FIND answers shown at most; the rest is cancelled
};

// Reads the section (missing keys keep their defaults; a port outside 1..65535 or an
// AE title longer than 16 characters falls back to the default).
Settings LoadSettings();
// Writes the section. False when Velmo.ini could not be written.
bool SaveSettings(const Settings& s);
// The retrieve folder as a full path.
std::string RetrieveFolder(const Settings& s);

}  // namespace velmo::pacs
