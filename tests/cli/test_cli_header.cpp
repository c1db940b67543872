// velmo-cli dump and overlay: the saved-text layout in UTF-8 and Shift-JIS, and the
// overlay lines with the installation's era setting.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/text.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo {
namespace {

std::string Cli(const std::string& home, const std::string& args, int* status) {
  const test::CommandResult r =
      test::RunCommand("VELMO_HOME=" + test::ShellQuote(home + "/") + " " + test::ShellQuote(test::CliPath()) + " " + args);
  *status = r.status;
  return r.out;
}

// An installation folder with the staged Config and Master, era set as given.
std::string Installation(const test::TempDir& dir, const char* era) {
  const std::string bin = VELMO_BIN_DIR;
  for (const char* sub : {"Config", "Master"})
    std::filesystem::copy(bin + "/" + sub, dir.File(sub), std::filesystem::copy_options::recursive);
  std::string ini = Utf8FromSjis([&] {
    const auto b = test::ReadBytes(dir.File("Config/Velmo.ini"));
    return std::string(b.begin(), b.end());
  }());
  const size_t at = ini.find("年号=");
  if (at != std::string::npos) ini.replace(at, ini.find('\r', at) - at, std::string("年号=") + era);
  test::WriteText(dir.File("Config/Velmo.ini"), SjisFromUtf8(ini));
  return dir.path();
}

std::string SampleFile(const test::TempDir& dir) {
  test::DicomWriter w(1);
  w.Text(0x0008, 0x0020, "DA", "19890107")
      .Text(0x0008, 0x0060, "CS", "CT")
      .Text(0x0010, 0x0010, "PN", "Doe^John")
      .Text(0x0010, 0x0020, "LO", "P-1")
      .U16(0x0028, 0x0002, 1)
      .Text(0x0028, 0x0004, "CS", "MONOCHROME2")
      .U16(0x0028, 0x0010, 2)
      .U16(0x0028, 0x0011, 2)
      .U16(0x0028, 0x0100, 8)
      .U16(0x0028, 0x0101, 8)
      .U16(0x0028, 0x0102, 7)
      .U16(0x0028, 0x0103, 0)
      .PixelData(test::Bytes{1, 2, 3, 4}, "OB");
  const std::string path = dir.File("image.dcm");
  test::WriteBytes(path, test::MakeFile("1.2.840.10008.1.2.1", w.bytes()));
  return path;
}

TEST(CliHeader, DumpWritesTheSavedTextLayout) {
  test::TempDir dir;
  const std::string home = Installation(dir, "西暦");
  const std::string file = SampleFile(dir);
  int status = 0;
  const std::string utf8 = Cli(home, "dump " + test::ShellQuote(file), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(utf8.rfind("ｸﾞﾙｰﾌﾟ ｴﾚﾒﾝﾄ  名前", 0), 0u) << utf8;
  EXPECT_EQ(utf8.find('\r'), std::string::npos);
  EXPECT_NE(utf8.find("(0010,0010)   患者名"), std::string::npos);
  const std::string sjis = Cli(home, "dump --sjis --english " + test::ShellQuote(file), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(sjis.rfind("Group Element Name", 0), 0u);
  EXPECT_NE(sjis.find("(0010,0010)   Patient's Name" + std::string(34, ' ') + "PN       1        8        Doe^John\r\n"),
            std::string::npos)
      << sjis;
  const std::string binary = Cli(home, "dump --binary " + test::ShellQuote(file), &status);
  EXPECT_NE(binary.find("44 6F 65 5E 4A 6F 68 6E "), std::string::npos);
  Cli(home, "dump", &status);
  EXPECT_EQ(status, 2);
  Cli(home, "dump /nonexistent.dcm", &status);
  EXPECT_EQ(status, 1);
}

TEST(CliHeader, OverlayLinesFollowTheInstallation) {
  test::TempDir dir;
  const std::string home = Installation(dir, "和暦");
  const std::string file = SampleFile(dir);
  int status = 0;
  const std::string out = Cli(home, "overlay " + test::ShellQuote(file), &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("UpLeft\tDoe John\n"), std::string::npos) << out;
  EXPECT_NE(out.find("UpLeft\tID: P-1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("UpRight\t昭和64年1月7日\n"), std::string::npos) << out;
  EXPECT_NE(out.find("DownRight\tCT\n"), std::string::npos) << out;
  EXPECT_NE(out.find("LevelWidth\tW:"), std::string::npos) << out;
  Cli(home, "overlay " + test::ShellQuote(file) + " --frame 2", &status);
  EXPECT_EQ(status, 2);
  // Without the group folders the corner files are missing: the failure is reported.
  std::filesystem::remove_all(dir.File("Config/CT"));
  Cli(home, "overlay " + test::ShellQuote(file), &status);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace velmo
