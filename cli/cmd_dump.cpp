// velmo-cli dump FILE [--english] [--binary] [--sjis]: the header list of FILE as
// "ﾃｷｽﾄ保存" writes it (UTF-8 with LF, or the saved bytes with --sjis).
#include <iostream>

#include "base/install.h"
#include "base/log.h"
#include "cli_common.h"
#include "dicom/read_dicom.h"
#include "header/dictionary.h"
#include "header/header_rows.h"

namespace velmo::cli {


int RunDump(const std::vector<std::string>& args) {
  std::string file;
  HeaderOptions options;
  for (const std::string& a : args) {
    if (a == "--english") options.english = true;
    else if (a == "--binary") options.binary = true;
    else if (!a.empty() && a[0] == '-') file.clear(), file = "\x01";
    else if (file.empty()) file = a;
    else file = "\x01";
  }
  if (file.empty() || file == "\x01") {
    std::cerr << "usage: velmo-cli dump FILE [--english] [--binary] [--sjis]\n";
    return kExitUsage;
  }
  StderrNotifier notifier;
  Log log(InstallFolder());
  Dictionaries dict;
  if (!LoadDictionaries(InstallFolder(), dict, log, &notifier)) return kExitFailed;
  LoadContext ctx;
  ctx.notifier = &notifier;
  ctx.log = &log;
  PrepareSingleFile(ctx, file);
  if (!ReadDicomFile(ctx, file, 1, true)) {
    PrintError(ctx.failureMessage.empty() ? std::string_view("read failed") : std::string_view(ctx.failureMessage));
    return kExitFailed;
  }
  const std::string text = HeaderText(BuildHeaderRows(ctx.records[0], dict, options, log), options.english);
  if (SjisOutput()) {
    std::cout << text;
  } else {
    std::string out = OutText(text), lf;
    lf.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i)
      if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) lf += out[i];
    std::cout << lf;
  }
  return kExitOk;
}

}  // namespace velmo::cli
