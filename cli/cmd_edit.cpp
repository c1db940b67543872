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
  for (char& c : vr)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const bool isDelete = command == "delete", isAdd = command == "add";
  if (files.empty() || !haveTag || values.size() > 3 || (isDelete && (!values.empty() || haveVr)))
    return Usage(command.c_str());

  // The tag (and for add the VR) as the add dialog reads them.
  const size_t comma = tag.find(',');
  const std::string groupText = tag.substr(0, comma);
  const std::string elementText = comma == std::string::npos ? "" : tag.substr(comma + 1);
  TagChange change;
  const std::string refusal =
      isAdd ? ReadTagTexts(groupText, elementText, vr, &change) : ReadTagTexts(groupText, elementText, &change);
  if (!refusal.empty()) return Refuse(refusal);

  if (!isDelete) {
    if (command == "edit") {
      // The file's own VR and value count stand in for the header list's row.
      uint32_t length = 0;
      const std::string inFile = VrInFile(files[0], change.group(), change.element(), &length);
      if (!haveVr) vr = inFile;
      const uint32_t size = NumericVrSize(inFile);
      const std::string vm = size && inFile == vr ? std::to_string(length / size) : "1";
      const std::string why = EditRefusal(change.groupText, vr, vm);
      if (!why.empty()) return Refuse(why);
    }
    if (vr.size() != 2) {
      PrintError(SJ("値表現(VR) が入力されていません"));
      std::cerr << "velmo-cli: give --vr for files without a VR for this tag\n";
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
    if (!EncodeTagValue(vr, boxes, &change)) {
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
  const TagOperation op = isDelete ? TagOperation::kDelete : isAdd ? TagOperation::kAdd : TagOperation::kEdit;
  const std::vector<TagWriteReport> reports = ApplyTagChange(op, files, change, env);
  int status = kExitOk;
  for (size_t i = 0; i < files.size(); ++i) {
    const TagWriteReport& report = reports[i];
    if (report.ok()) {
      std::cout << (report.changed ? "rewritten\t" : "unchanged\t") << files[i] << "\n";
    } else {
      std::cout << "failed\t" << files[i] << "\t" << OutText(report.failure) << "\n";
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace velmo::cli
