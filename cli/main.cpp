// velmo-cli: batch inspection and export with the same core code as the GUI.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "base/install.h"
#include "pacs/pacs.h"

namespace {

void Usage() {
  std::cerr << "usage: velmo-cli COMMAND ...\n"
               "  info FILE                       the image record of FILE as name=value lines\n"
               "  render FILE -o OUT [options]    one display conversion of FILE as .bmp, .jpg or .png\n"
               "  list PATH... [--level patient|study|series|image]\n"
               "                                  the study list of files, folders or one DICOMDIR as TSV\n"
               "  measure FILE [view options] (--distance|--angle|--ctr [--drag]|--pixel|--roi-ellipse|--roi-rect ...)...\n"
               "                                  label texts of measurements placed as the mouse would\n"
               "  edit|add|delete FILE... --tag GGGG,EEEE [--vr VR] [--value TEXT]...\n"
               "                                  change one element in each file (backups in VelmoImgBk)\n"
               "  dump FILE [--english] [--binary] the header list of FILE as its saved text\n"
               "  overlay FILE [--frame N]        the image-information lines of FILE's four corners\n"
               "  mpr PATH... --line horizontal|vertical --pos N -o OUT [view options]\n"
               "  mip PATH... [--x1 N --x2 N --y1 N --y2 N] [--direction 1|2] [--lower N --upper N] -o OUT\n"
               "                                  the series of the first image, reformatted as the right pane shows it\n";
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts: every archive association without Nagle's delay.
  velmo::pacs::EnableNoDelay();
  velmo::SetInstallFolder(velmo::ResolveInstallFolder(argc > 0 ? argv[0] : nullptr));
  std::vector<std::string> args;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sjis") == 0) {
      velmo::cli::SetSjisOutput(true);
      continue;
    }
    args.emplace_back(argv[i]);
  }
  if (argc < 2) {
    Usage();
    return velmo::cli::kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "info") return velmo::cli::RunInfo(args);
  if (command == "render") return velmo::cli::RunRender(args);
  if (command == "list") return velmo::cli::RunList(args);
  if (command == "measure") return velmo::cli::RunMeasure(args);
  if (command == "edit" || command == "add" || command == "delete") return velmo::cli::RunEdit(command, args);
  if (command == "dump") return velmo::cli::RunDump(args);
  if (command == "overlay") return velmo::cli::RunOverlay(args);
  if (command == "mpr") return velmo::cli::RunMpr(args);
  if (command == "mip") return velmo::cli::RunMip(args);
  if (command == "query") return velmo::cli::RunQuery(args);
  if (command == "retrieve") return velmo::cli::RunRetrieve(args);
  if (command == "--help" || command == "-h" || command == "help") {
    Usage();
    return velmo::cli::kExitOk;
  }
  std::cerr << "velmo-cli: unknown command '" << command << "'\n";
  Usage();
  return velmo::cli::kExitUsage;
}
