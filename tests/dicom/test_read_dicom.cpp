// The file loader: encodings, meta group, probe, pixel data location, both reading
// strategies, and files that are damaged, empty, huge or not files at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dicom/read_dicom.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using test::Bytes;
using test::DicomWriter;
using test::MakeFile;

// A small data set with SOP instance UID, rows/columns and pixel data.
Bytes Dataset(int syntax, size_t pixelBytes = 16) {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4.5");
  w.U16(0x0028, 0x0010, 2);
  w.U16(0x0028, 0x0011, 4);
  w.PixelData(Bytes(pixelBytes, 0x11));
  return w.bytes();
}

struct Loader {
  MemoryFileSource files;
  test::RecordingNotifier notifier;
  LoadContext ctx;
  Loader() {
    ctx.files = &files;
    ctx.notifier = &notifier;
    PrepareSingleFile(ctx, "f.dcm");
  }
  bool Load(const Bytes& file, bool fullRead = true) {
    files.Add("f.dcm", file);
    return ReadDicomFile(ctx, "f.dcm", 1, fullRead);
  }
  const DicomImage& im() const { return ctx.records[0]; }
};

TEST(ReadDicomFile, ExplicitLittleWithPreambleFindsDatasetAndPixelData) {
  Loader l;
  Bytes meta = test::MakeMetaGroup("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.2");
  Bytes file = MakeFile("1.2.840.10008.1.2.1", Dataset(1));
  ASSERT_TRUE(l.Load(file));
  EXPECT_EQ(l.im().preambleSize, 132);
  EXPECT_EQ(l.im().datasetOffset, 132 + static_cast<int>(meta.size()));
  EXPECT_EQ(l.im().syntaxType, kExplicitLittle);
  EXPECT_EQ(l.im().transferSyntaxUid.view(), "1.2.840.10008.1.2.1");
  // The pixel value starts 12 bytes after the (7FE0,0010) tag and runs to the end.
  EXPECT_EQ(l.im().headerSize, static_cast<int>(file.size()) - 16);
  ASSERT_EQ(l.im().headerCopy.size(), static_cast<size_t>(l.im().headerSize));
  EXPECT_TRUE(std::equal(l.im().headerCopy.begin(), l.im().headerCopy.end(), file.begin()));
  EXPECT_EQ(l.ctx.readSize, file.size());  // the file buffer stays for extraction
}

TEST(ReadDicomFile, BareImplicitFileWithoutPreambleOrMeta) {
  Loader l;
  Bytes file = Dataset(0);
  ASSERT_TRUE(l.Load(file));
  EXPECT_EQ(l.im().preambleSize, 0);
  EXPECT_EQ(l.im().datasetOffset, 0);
  EXPECT_EQ(l.im().transferSyntaxUid.view(), "1.2.840.10008.1.2");
  EXPECT_EQ(l.im().syntaxType, kImplicitLittle);
  EXPECT_EQ(l.im().headerSize, static_cast<int>(file.size()) - 16);
}

TEST(ReadDicomFile, BareBigEndianFileIsRecognisedByItsFirstBytes) {
  Loader l;
  DicomWriter w(2);
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2");
  w.Text(0x0008, 0x0018, "UI", "1.2.3");
  w.PixelData(Bytes(8, 1));
  ASSERT_TRUE(l.Load(w.bytes()));
  EXPECT_EQ(l.im().syntaxType, kExplicitBig);
  EXPECT_EQ(l.im().transferSyntaxUid.view(), "1.2.840.10008.1.2.2");
  EXPECT_EQ(l.im().headerSize, static_cast<int>(w.bytes().size()) - 8);
}

TEST(ReadDicomFile, BigEndianWithMetaGroup) {
  Loader l;
  Bytes file = MakeFile("1.2.840.10008.1.2.2", Dataset(2));
  ASSERT_TRUE(l.Load(file));
  EXPECT_EQ(l.im().syntaxType, kExplicitBig);
  EXPECT_EQ(l.im().headerSize, static_cast<int>(file.size()) - 16);
}

TEST(ReadDicomFile, ProbeOverridesAMetaGroupThatClaimsImplicit) {
  Loader l;
  ASSERT_TRUE(l.Load(MakeFile("1.2.840.10008.1.2", Dataset(1))));
  EXPECT_EQ(l.im().syntaxType, kExplicitLittle);
  EXPECT_EQ(l.im().transferSyntaxUid.view(), "1.2.840.10008.1.2");
}

TEST(ReadDicomFile, CompressedSyntaxWarnsOnceAndStillLoadsAsExplicit) {
  {
    Loader l;  // 21st character '1', 22nd '0': the first test fails (MPEG2)
    ASSERT_TRUE(l.Load(MakeFile("1.2.840.10008.1.2.4.100", Dataset(1))));
    EXPECT_EQ(l.im().syntaxType, kExplicitLittle);
    ASSERT_EQ(l.notifier.entries.size(), 1u);
    EXPECT_EQ(l.notifier.entries[0].caption, SJ("警告"));
    EXPECT_EQ(l.notifier.entries[0].message, SJ("圧縮（JPEG）された未対応のフォーマットです"));
  }
  {
    Loader l;  // 21st '5', 22nd '5': only the second test fails; still one box
    ASSERT_TRUE(l.Load(MakeFile("1.2.840.10008.1.2.4.55", Dataset(1))));
    EXPECT_EQ(l.notifier.entries.size(), 1u);
  }
  {
    Loader l;  // 21st '9', 22nd '2': both tests fail, the box is shown once
    ASSERT_TRUE(l.Load(MakeFile("1.2.840.10008.1.2.4.92", Dataset(1))));
    EXPECT_EQ(l.notifier.entries.size(), 1u);
  }
  for (const char* ok : {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.5",
                         "1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.4.80",
                         "1.2.840.10008.1.2.4.81", "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91",
                         "1.2.840.10008.1.2.4.201"}) {
    Loader l;
    ASSERT_TRUE(l.Load(MakeFile(ok, Dataset(1)))) << ok;
    EXPECT_TRUE(l.notifier.entries.empty()) << ok;
    EXPECT_EQ(l.im().syntaxType, kExplicitLittle) << ok;
  }
  {
    Loader l;  // without fullRead the warning is logged but never shown
    ASSERT_TRUE(l.Load(MakeFile("1.2.840.10008.1.2.4.92", Dataset(1)), false));
    EXPECT_TRUE(l.notifier.entries.empty());
  }
}

// A compressed syntax still refused names its UID in the log; a decodable one does not
// warn at all.
TEST(ReadDicomFile, RefusedCompressionLogsItsTransferSyntax) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=1\n");
  RotateLogs(dir.path() + "/");
  Log log(dir.path() + "/");
  for (const char* uid : {"1.2.840.10008.1.2.4.92", "1.2.840.10008.1.2.4.90"}) {
    Loader l;
    l.ctx.log = &log;
    ASSERT_TRUE(l.Load(MakeFile(uid, Dataset(1))));
    l.ctx.log = &Log::Null();
  }
  const std::vector<uint8_t> bytes = test::ReadBytes(LogFilePath(dir.path() + "/", 1));
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("Transfer Syntax UID: 1.2.840.10008.1.2.4.92"), std::string::npos) << text;
  EXPECT_EQ(text.find("Transfer Syntax UID: 1.2.840.10008.1.2.4.90"), std::string::npos);
}

TEST(ReadDicomFile, DicomdirIsRejected) {
  Loader l;
  Bytes file = MakeFile("1.2.840.10008.1.2.1", Dataset(1), true, "1.2.840.10008.1.3.10");
  EXPECT_FALSE(l.Load(file));
  EXPECT_EQ(l.ctx.failureMessage, SJ("DICOM形式ファイル（DICOMDIR）です。"));
  EXPECT_TRUE(l.ctx.fileBuffer.empty());
  EXPECT_EQ(l.im().headerSize, 0);
}

TEST(ReadDicomFile, MissingPixelDataFailsAfterTheWholeFile) {
  DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.3");
  w.Text(0x0010, 0x0010, "PN", "NAME");
  for (bool full : {true, false}) {
    Loader l;
    EXPECT_FALSE(l.Load(MakeFile("1.2.840.10008.1.2.1", w.bytes()), full));
    EXPECT_EQ(l.ctx.failureMessage, SJ("未対応フォーマットのファイルです"));
    EXPECT_EQ(l.files.readCalls.load(), 1u);  // small file: the first prefix is the whole file
  }
}

TEST(ReadDicomFile, PrefixStrategyGrowsUntilThePixelDataElementIsInside) {
  // A 20,000-byte file whose pixel data element starts at byte 9,000: 8,192 then 20,000.
  DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.3");
  const size_t before = MakeFile("1.2.840.10008.1.2.1", w.bytes()).size();
  w.Element(0x0009, 0x0010, "OB", Bytes(9000 - before - 12, 0));
  const size_t pixelAt = MakeFile("1.2.840.10008.1.2.1", w.bytes()).size();
  ASSERT_EQ(pixelAt, 9000u);
  w.PixelData(Bytes(20000 - 9000 - 12, 7), "OB");
  Bytes file = MakeFile("1.2.840.10008.1.2.1", w.bytes());
  ASSERT_EQ(file.size(), 20000u);
  Loader l;
  ASSERT_TRUE(l.Load(file, false));
  EXPECT_EQ(l.files.readCalls.load(), 2u);
  EXPECT_EQ(l.files.bytesRead.load(), 8192u + 20000u);
  EXPECT_EQ(l.im().headerSize, 9012);
  // Header-only reads keep the 1 MiB buffer, zero behind the bytes read.
  EXPECT_EQ(l.ctx.fileBuffer.size(), 1048576u);
}

TEST(ReadDicomFile, PixelElementHeaderCutByThePrefixIsNotFound) {
  // The (7FE0,0010) tag ends exactly at byte 8,192: its VR and length lie beyond the
  // first prefix, so the loader must read on instead of trusting a cut header.
  DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.3");
  const size_t before = MakeFile("1.2.840.10008.1.2.1", w.bytes()).size();
  w.Element(0x0009, 0x0010, "OB", Bytes(8192 - 4 - before - 12, 0));
  w.PixelData(Bytes(4000, 3), "OB");
  Bytes file = MakeFile("1.2.840.10008.1.2.1", w.bytes());
  Loader l;
  ASSERT_TRUE(l.Load(file, false));
  EXPECT_EQ(l.files.readCalls.load(), 2u);
  EXPECT_EQ(l.im().headerSize, 8192 + 8);
}

TEST(ReadDicomFile, DamagedStreamsFailCleanly) {
  Bytes good = MakeFile("1.2.840.10008.1.2.1", Dataset(1));
  // Cut at every length inside the data set: never a crash, never success without the
  // whole pixel element header, never a header beyond the bytes read.
  for (size_t cut = 1; cut < good.size(); ++cut) {
    Loader l;
    Bytes part(good.begin(), good.begin() + static_cast<long>(cut));
    if (l.Load(part)) {
      EXPECT_LE(static_cast<size_t>(l.im().headerSize), cut);
    }
  }
  // Lengths that point past the end or wrap 32 bits.
  for (uint32_t len : {0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    DicomWriter w(1);
    w.Text(0x0008, 0x0018, "UI", "1.2.3");
    w.Header(0x0009, 0x1000, "OB", len);
    w.Raw(Bytes(64, 0xFE));
    w.PixelData(Bytes(4, 1));
    Loader l;
    l.Load(MakeFile("1.2.840.10008.1.2.1", w.bytes()));
  }
  // Undefined lengths nested without delimiters.
  DicomWriter n(1);
  n.Text(0x0008, 0x0018, "UI", "1.2.3");
  for (int i = 0; i < 50; ++i) {
    n.Header(0x0040, 0x0275, "SQ", 0xFFFFFFFFu);
    n.Raw(Bytes{0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF});
  }
  Loader l;
  EXPECT_FALSE(l.Load(MakeFile("1.2.840.10008.1.2.1", n.bytes())));
}

class DiskFiles : public ::testing::Test {
 protected:
  test::TempDir dir;
  LoadContext ctx;
  bool Load(const std::string& path, bool full = true) {
    PrepareSingleFile(ctx, path);
    return ReadDicomFile(ctx, path, 1, full);
  }
};

TEST_F(DiskFiles, MissingEmptyAndFolderPathsFail) {
  EXPECT_FALSE(Load(dir.File("missing.dcm")));
  EXPECT_EQ(ctx.failureMessage, Format(SJ("ファイル（%s）のステータス取得に失敗"), dir.File("missing.dcm")));
  test::WriteBytes(dir.File("empty.dcm"), {});
  EXPECT_FALSE(Load(dir.File("empty.dcm")));
  EXPECT_EQ(ctx.failureMessage, Format(SJ("画像ファイル（%s）のサイズが 0 です"), dir.File("empty.dcm")));
  std::filesystem::create_directory(dir.File("folder.dcm"));
  EXPECT_FALSE(Load(dir.File("folder.dcm")));
  ASSERT_EQ(mkfifo(dir.File("fifo.dcm").c_str(), 0600), 0);
  EXPECT_FALSE(Load(dir.File("fifo.dcm")));  // must not block on the pipe
}

TEST_F(DiskFiles, HugeFileReadsItsHeaderButRefusesAWholeRead) {
  // A sparse 2 GiB + 1 KiB file whose pixel data starts at about 2 KB.
  const std::string path = dir.File("huge.dcm");
  Bytes head = MakeFile("1.2.840.10008.1.2.1", Dataset(1, 0));
  test::WriteBytes(path, head);
  ASSERT_EQ(truncate(path.c_str(), (2LL << 30) + 1024), 0);
  const uint64_t before = DiskFileSource::Instance().bytesRead.load();
  ASSERT_TRUE(Load(path, false));
  EXPECT_EQ(DiskFileSource::Instance().bytesRead.load() - before, 8192u);
  EXPECT_FALSE(Load(path, true));
  EXPECT_EQ(ctx.failureMessage, SJ("未対応フォーマットのファイルです"));
  EXPECT_TRUE(ctx.fileBuffer.empty());
}

TEST_F(DiskFiles, NonAsciiPathIsLoggedInShiftJis) {
  const std::string path = dir.File("画像.dcm");
  EXPECT_FALSE(Load(path));
  EXPECT_EQ(ctx.failureMessage, Format(SJ("ファイル（%s）のステータス取得に失敗"), SjisFromUtf8(path)));
}

TEST(ReadDicomFile, LongFormVrsAreSteppedWithTheirFourByteLength) {
  // An explicit VR element with VR UC, UR, OV, SV, UV, OD, OL or OF uses the long form; a
  // scanner that read a 2-byte length there would take the reserved zeros as the length
  // and never reach the pixel data.
  for (const char* vr : {"UC", "UR", "OD", "OF", "OL", "OV", "SV", "UV", "UT", "UN"}) {
    DicomWriter w(1);
    w.Text(0x0008, 0x0018, "UI", "1.2.3");
    w.Element(0x0009, 0x1001, vr, Bytes(300, 'x'));
    w.PixelData(Bytes(4, 9));
    Loader l;
    ASSERT_TRUE(l.Load(MakeFile("1.2.840.10008.1.2.1", w.bytes()))) << vr;
    EXPECT_EQ(static_cast<size_t>(l.im().headerSize), MakeFile("1.2.840.10008.1.2.1", w.bytes()).size() - 4) << vr;
  }
}

}  // namespace
}  // namespace velmo
