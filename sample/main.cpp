// velmo-sample OUTDIR: writes the bundled sample study into OUTDIR.
// Exit status: 0 written, 1 a folder or file could not be written, 2 bad usage.
#include <cstdio>
#include <string>

#include "study.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: velmo-sample OUTDIR\n");
    return 2;
  }
  std::string error;
  if (!velmo_sample::WriteSampleStudy(argv[1], &error)) {
    std::fprintf(stderr, "velmo-sample: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", argv[1]);
  return 0;
}
