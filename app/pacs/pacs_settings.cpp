#include "pacs/pacs_settings.h"

#include <algorithm>

#include "base/ini.h"
#include "base/install.h"
#include "base/text.h"

namespace velmo::pacs {

namespace {

bool AeOk(const std::string& ae) { return !ae.empty() && ae.size() <= 16 && ae.find('\\') == std::string::npos; }

// The key of node `index` (from 0): the first node's keys carry no number.
std::string NodeKey(const char* name, size_t index) {
  return index == 0 ? std::string(name) : std::string(name) + std::to_string(index + 1);
}

Node LoadNode(size_t i) {
  Node n;
  const std::string called = ProfileString("PACS", NodeKey("CalledAE", i));
  if (AeOk(called)) n.calledAe = called;
  const std::string host = ProfileString("PACS", NodeKey("Host", i));
  if (!host.empty()) n.host = host;
  const int32_t port = ProfileInt("PACS", NodeKey("Port", i), n.port);
  if (port >= 1 && port <= 65535) n.port = static_cast<uint16_t>(port);
  // DICOM TLS: "TLS" 1 turns it on; the files are paths (Shift-JIS in the file).
  n.tls = ProfileInt("PACS", NodeKey("TLS", i), 0) == 1;
  n.caFile = Utf8FromSjis(ProfileString("PACS", NodeKey("CAFile", i)));
  n.certFile = Utf8FromSjis(ProfileString("PACS", NodeKey("CertFile", i)));
  n.keyFile = Utf8FromSjis(ProfileString("PACS", NodeKey("KeyFile", i)));
  return n;
}

bool SaveNode(const Node& n, size_t i) {
  bool ok = true;
  auto path = [&](const std::string& utf8) {
    bool fine = true;
    std::string sjis = SjisFromUtf8(utf8, &fine);
    return fine ? sjis : std::string();
  };
  ok &= WriteProfileString("PACS", NodeKey("CalledAE", i), n.calledAe);
  ok &= WriteProfileString("PACS", NodeKey("Host", i), n.host);
  ok &= WriteProfileString("PACS", NodeKey("Port", i), std::to_string(n.port));
  ok &= WriteProfileString("PACS", NodeKey("TLS", i), n.tls ? "1" : "0");
  ok &= WriteProfileString("PACS", NodeKey("CAFile", i), path(n.caFile));
  ok &= WriteProfileString("PACS", NodeKey("CertFile", i), path(n.certFile));
  ok &= WriteProfileString("PACS", NodeKey("KeyFile", i), path(n.keyFile));
  return ok;
}

}  // namespace

Settings LoadSettings() {
  Settings s;
  const int32_t count = ProfileInt("PACS", "Nodes", 1);
  s.nodes.clear();
  for (size_t i = 0; i < static_cast<size_t>(std::clamp<int32_t>(count, 1, kMaxNodes)); ++i) s.nodes.push_back(LoadNode(i));
  const int32_t current = ProfileInt("PACS", "Current", 1);
  s.current = current >= 1 && static_cast<size_t>(current) <= s.nodes.size() ? static_cast<size_t>(current - 1) : 0;
  const std::string ae = ProfileString("PACS", "AETitle");
  const int32_t timeout = ProfileInt("PACS", "Timeout", static_cast<int32_t>(Node{}.timeoutSeconds));
  for (Node& n : s.nodes) {
    if (AeOk(ae)) n.callingAe = ae;
    if (timeout >= 1 && timeout <= 3600) n.timeoutSeconds = static_cast<uint32_t>(timeout);
  }
  const int32_t cap = ProfileInt("PACS", "MaxResults", s.resultCap);
  if (cap >= 1 && cap <= 100000) s.resultCap = cap;
  const int32_t movePort = ProfileInt("PACS", "MovePort", 0);
  if (movePort >= 1 && movePort <= 65535) s.movePort = static_cast<uint16_t>(movePort);
  s.folder = ProfileString("PACS", "Folder");
  return s;
}

bool SaveSettings(const Settings& s) {
  const size_t count = std::clamp<size_t>(s.nodes.size(), 1, kMaxNodes);
  const size_t before = static_cast<size_t>(std::clamp<int32_t>(ProfileInt("PACS", "Nodes", 1), 1, kMaxNodes));
  const Node& current = s.node();
  bool ok = WriteProfileString("PACS", "AETitle", current.callingAe) &&
            WriteProfileString("PACS", "Folder", s.folder) &&
            WriteProfileString("PACS", "MovePort", std::to_string(s.movePort)) &&
            WriteProfileString("PACS", "Nodes", std::to_string(count)) &&
            WriteProfileString("PACS", "Current", std::to_string(std::min(s.current, count - 1) + 1));
  for (size_t i = 0; ok && i < count; ++i) ok = SaveNode(i < s.nodes.size() ? s.nodes[i] : Node{}, i);
  // The keys of nodes removed since are emptied.
  for (size_t i = count; ok && i < before; ++i) {
    for (const char* key : {"CalledAE", "Host", "Port", "TLS", "CAFile", "CertFile", "KeyFile"})
      ok = ok && WriteProfileString("PACS", NodeKey(key, i), "");
  }
  return ok;
}

std::string RetrieveFolder(const Settings& s) {
  // Velmo.ini holds paths in Shift-JIS; the file system wants UTF-8.
  std::string f = Utf8FromSjis(s.folder);
  if (f.empty()) f = "PACS";
  if (f[0] == '/') return f;
  return InstallFolder() + f;
}

}  // namespace velmo::pacs
