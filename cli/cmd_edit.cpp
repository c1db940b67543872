// velmo-cli edit|add|delete FILE... --tag GGGG,EEEE [--vr VR] [--value TEXT]...:
// the header-list commands for scripted corrections. Every file goes through the
// same per-file writer as in the GUI (backup in VelmoImgBk, rewrite through a synced
// temporary file); one line per file on stdout: "rewritten", "unchanged" or
// "failed" with the reason, a tab and the path.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/install.h"
#include "base/log.h"
#include "base/text.h"
#include "cli_common.h"
#include "header/tag_edit.h"
#include "rewrite/file_layout.h"

namespace velmo::cli {

namespace {

int Usage(const char* command) {
  std::cerr << "usage: velmo-cli " << command
            << " FILE... --tag GGGG,EEEE [--vr VR] [--value TEXT]...\n"
               "  --value may be given up to three times (the component groups of a person name)\n";
  return kExitUsage;
}

int Refuse(const std::string& sjisMessage) {
  PrintError(sjisMessage);
  return kExitFailed;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Two characters as one byte; reading stops at the first character that is not a
// hexadecimal digit.
uint8_t HexByte(const std::string& text, size_t at) {
  unsigned v = 0;
  for (size_t i = at; i < at + 2 && i < text.size() && IsHex(text[i]); ++i)
    v = v * 16 + static_cast<unsigned>(text[i] <= '9' ? text[i] - '0' : (text[i] | 0x20) - 'a' + 10);
  return static_cast<uint8_t>(v);
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The VR and value length of the top-level element in an explicit-VR file ("" when
// the file is implicit or lacks the element).
std::string VrInFile(const std::string& path, uint16_t group, uint16_t element, uint32_t* length) {
  std::string bytes;
  if (ReadWholeFile(path, &bytes).status != FileReadStatus::kOk) return "";
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t n = bytes.size() > layout::kMaxImage ? 0 : static_cast<uint32_t>(bytes.size());
  const layout::RewriteLayout l = layout::ReadRewriteLayout(b, n);
  if (l.encoding < 0) return "";
  const layout::Range r = layout::RangeFor(l, group);
  if (r.encoding == 0) return "";
  const int64_t at = layout::FindTop(b, r.begin, r.end, r.encoding, group, element);
  layout::ElementHeader h;
  if (at < 0 || !layout::ReadHeader(b, n, at, r.encoding, &h)) return "";
  *length = h.length;
  return std::string(h.vr, 2);
}

std::string DesktopFolder() {
  if (const char* d = std::getenv("XDG_DESKTOP_DIR"); d && *d) return d;
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/Desktop";
  return "";
}

}  // namespace

int RunEdit(const std::string& command, const std::vector<std::string>& args) {
  std::vector<std::string> files, values;
  std::string tag, vr;
  bool haveTag = false, haveVr = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--tag" || a == "--vr" || a == "--value") {
      if (i + 1 >= args.size()) return Usage(command.c_str());
      const std::string& v = args[++i];
      if (a == "--tag") tag = v, haveTag = true;
      else if (a == "--vr") vr = v, haveVr = true;
      else values.push_back(v);
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage(command.c_str());
    } else {
      files.push_back(a);
    }
  }
  const bool isDelete = command == "delete", isAdd = command == "add";
  if (files.empty() || !haveTag || values.size() > 3 || (isDelete && (!values.empty() || haveVr)))
    return Usage(command.c_str());

  // The tag as the add dialog reads it: four characters each, two per byte.
  const size_t comma = tag.find(',');
  const std::string groupText = Upper(tag.substr(0, comma));
  const std::string elementText = comma == std::string::npos ? "" : Upper(tag.substr(comma + 1));
  if (groupText.size() != 4) return Refuse(SJ("ｸﾞﾙｰﾌﾟ が入力されていません"));
  if (elementText.size() != 4) return Refuse(SJ("ｴﾚﾒﾝﾄ が入力されていません"));
  TagChange change;
  change.groupHigh = HexByte(groupText, 0);
  change.groupLow = HexByte(groupText, 2);
  change.elementHigh = HexByte(elementText, 0);
  change.elementLow = HexByte(elementText, 2);
  change.groupText = groupText;
  change.elementText = elementText;

  if (!isDelete) {
    if (command == "edit") {
      if (change.groupLow % 2) return Refuse(SJ("プライベートタグは編集できません"));
      uint32_t length = 0;
      const std::string inFile = VrInFile(files[0], change.group(), change.element(), &length);
      if (!haveVr) vr = inFile;
      if (!vr.empty() && (vr.find("OB") != std::string::npos || vr.find("OW") != std::string::npos ||
                          vr.find("SQ") != std::string::npos))
        return Refuse(SJ("値表現(VR)が OB、OW、SQ は編集できません"));
      const uint32_t size = NumericVrSize(vr);
      if (size && inFile == vr && length / size >= 2)
        return Refuse(SJ("値表現(VR)が SS、US、SL、UL、FL、FD かつ 値複数度(VM)が 1 以上は編集できません"));
    }
    if (vr.size() != 2) {
      PrintError(SJ("値表現(VR) が入力されていません"));
      if (!isAdd) std::cerr << "velmo-cli: give --vr for files without a VR for this tag\n";
      return kExitUsage;
    }
    std::string boxes[3];
    for (size_t i = 0; i < values.size(); ++i) {
      bool ok = true;
      boxes[i] = SjisFromUtf8(values[i], &ok);
      if (!ok) {
        std::cerr << "velmo-cli: the value '" << values[i] << "' cannot be written in Shift-JIS\n";
        return kExitUsage;
      }
    }
    if (!EncodeTagValue(Upper(vr), boxes, &change)) {
      std::cerr << "velmo-cli: the encoded value is longer than " << kMaxEncodedValue << " bytes\n";
      return kExitUsage;
    }
  }

  const Log log(InstallFolder());
  StderrNotifier notifier;
  TagWriteEnv env;
  env.log = &log;
  env.notifier = &notifier;
  env.installFolder = InstallFolder();
  env.desktopFolder = DesktopFolder();
  int status = kExitOk;
  for (const std::string& path : files) {
    TagWriteReport report;
    const bool ok = isDelete ? DeleteElementFromFile(path, change, env, &report)
                    : isAdd  ? AddElementToFile(path, change, env, &report)
                             : EditElementInFile(path, change, env, &report);
    if (ok) {
      std::cout << (report.changed ? "rewritten\t" : "unchanged\t") << path << "\n";
    } else {
      std::cout << "failed\t" << path << "\t" << OutText(report.failure) << "\n";
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace velmo::cli
