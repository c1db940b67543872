#include "pacs/pacs_settings.h"

#include "base/ini.h"
#include "base/install.h"
#include "base/text.h"

namespace velmo::pacs {

namespace {
bool AeOk(const std::string& ae) { return !ae.empty() && ae.size() <= 16 && ae.find('\\') == std::string::npos; }
}  // namespace

Settings LoadSettings() {
  Settings s;
  const std::string ae = ProfileString("PACS", "AETitle");
  if (AeOk(ae)) s.node.callingAe = ae;
  const std::string called = ProfileString("PACS", "CalledAE");
  if (AeOk(called)) s.node.calledAe = called;
  const std::string host = ProfileString("PACS", "Host");
  if (!host.empty()) s.node.host = host;
  const int32_t port = ProfileInt("PACS", "Port", s.node.port);
  if (port >= 1 && port <= 65535) s.node.port = static_cast<uint16_t>(port);
  const int32_t timeout = ProfileInt("PACS", "Timeout", static_cast<int32_t>(s.node.timeoutSeconds));
  if (timeout >= 1 && timeout <= 3600) s.node.timeoutSeconds = static_cast<uint32_t>(timeout);
  const int32_t cap = ProfileInt("PACS", "MaxResults", s.resultCap);
  if (cap >= 1 && cap <= 100000) s.resultCap = cap;
  const int32_t movePort = ProfileInt("PACS", "MovePort", 0);
  if (movePort >= 1 && movePort <= 65535) s.movePort = static_cast<uint16_t>(movePort);
  s.folder = ProfileString("PACS", "Folder");
  // DICOM TLS: "TLS" 1 turns it on; the files are paths (Shift-JIS in the file).
  s.node.tls = ProfileInt("PACS", "TLS", 0) == 1;
  s.node.caFile = Utf8FromSjis(ProfileString("PACS", "CAFile"));
  s.node.certFile = Utf8FromSjis(ProfileString("PACS", "CertFile"));
  s.node.keyFile = Utf8FromSjis(ProfileString("PACS", "KeyFile"));
  return s;
}

bool SaveSettings(const Settings& s) {
  return WriteProfileString("PACS", "AETitle", s.node.callingAe) &&
         WriteProfileString("PACS", "CalledAE", s.node.calledAe) &&
         WriteProfileString("PACS", "Host", s.node.host) &&
         WriteProfileString("PACS", "Port", std::to_string(s.node.port)) &&
         WriteProfileString("PACS", "Folder", s.folder);
}

std::string RetrieveFolder(const Settings& s) {
  // Velmo.ini holds paths in Shift-JIS; the file system wants UTF-8.
  std::string f = Utf8FromSjis(s.folder);
  if (f.empty()) f = "PACS";
  if (f[0] == '/') return f;
  return InstallFolder() + f;
}

}  // namespace velmo::pacs
