// velmo-cli info over the public corpus: the transfer syntax of every image file,
// and the system's messages for the DICOMDIR and for files without pixel data.
#include <gtest/gtest.h>

#include "support/test_util.h"

namespace velmo {
namespace {

test::CommandResult Info(const std::string& file) {
  return test::RunCommand(test::ShellQuote(test::CliPath()) + " info " + test::ShellQuote(file));
}

TEST(CliInfo, CorpusTransferSyntaxesAndRefusals) {
  const std::string dir = test::TestDataDir();
  if (dir.empty()) GTEST_SKIP() << "public corpus not found under " << VELMO_TESTDATA_DIR;
  int images = 0, refused = 0;
  for (const test::TsvRow& r : test::ReadReferenceTsv()) {
    const std::string file = dir + "/" + r.at("file");
    const test::CommandResult run = Info(file);
    const bool hasPixels = r.at("pixel_data").rfind("PixelData", 0) == 0;
    const std::string ts = r.at("meta_transfer_syntax");
    if (r.at("sop_class_uid") == "1.2.840.10008.1.3.10" || r.at("file").find("DICOMDIR") != std::string::npos) {
      EXPECT_EQ(run.status, 1) << file;
      EXPECT_NE(run.err.find("DICOM形式ファイル（DICOMDIR）です。"), std::string::npos) << file << run.err;
      ++refused;
    } else if (!hasPixels) {
      EXPECT_EQ(run.status, 1) << file;
      EXPECT_NE(run.err.find("未対応フォーマットのファイルです"), std::string::npos) << file << run.err;
      ++refused;
    } else if (run.status == 0) {
      // Files without a transfer syntax are read as the loader assumes from their first bytes.
      if (ts != "(none)" && !ts.empty()) EXPECT_EQ(test::ParseNameValueLines(run.out)["transferSyntaxUid"], ts) << file;
      ++images;
    } else {
      // An image file may still fail later (no rows, pixel data shorter than promised,
      // deflated data set) but never in a way that loses the message.
      EXPECT_EQ(run.status, 1) << file;
      EXPECT_FALSE(run.err.empty()) << file;
    }
  }
  EXPECT_GT(images, 60);
  EXPECT_GT(refused, 10);
}

TEST(CliInfo, UsageAndMissingFile) {
  EXPECT_EQ(test::RunCommand(test::ShellQuote(test::CliPath()) + " info").status, 2);
  const test::CommandResult run = Info("/nonexistent/file.dcm");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("ステータス取得に失敗"), std::string::npos) << run.err;
}

// Start-up cost: the programs load the archive's network library only when a command
// talks to an archive, CharLS only for the first JPEG-LS frame, and never the HT
// decoder (only its helper process does). Linked in, they cost every start about
// 5 ms, 0.5 ms and 1 ms of CPU.
TEST(CliInfo, ProgramsLoadNoLibraryTheyMayNotNeedAtStart) {
  for (const std::string program : {"velmo-cli", "velmo"}) {
    const std::string path = test::CliPath().substr(0, test::CliPath().rfind('/') + 1) + program;
    if (program == "velmo" && test::RunCommand("test -x " + test::ShellQuote(path)).status != 0) continue;  // built without the GUI
    const test::CommandResult ldd = test::RunCommand("ldd " + test::ShellQuote(path));
    ASSERT_EQ(ldd.status, 0) << ldd.err;
    for (const char* library : {"libdcm", "libopenjph", "libcharls"})
      EXPECT_EQ(ldd.out.find(library), std::string::npos) << program << " loads " << library << ":\n" << ldd.out;
  }
}

}  // namespace
}  // namespace velmo
