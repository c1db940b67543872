// The list entry reader over in-memory and on-disk files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>

#include "browser/list_reader.h"
#include "dicom/file_source.h"
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

constexpr const char* kExplicitLe = "1.2.840.10008.1.2.1";
constexpr const char* kImplicitLe = "1.2.840.10008.1.2";
constexpr const char* kExplicitBe = "1.2.840.10008.1.2.2";

// A small image data set in `syntax` with the usual list attributes, then pixel data.
Bytes Dataset(int syntax, size_t pixelBytes = 64, const std::string& patientName = "Doe^John") {
  DicomWriter w(syntax);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4.100");
  w.Text(0x0008, 0x0020, "DA", "20240131");
  w.Text(0x0008, 0x0060, "CS", "CT");
  w.Text(0x0010, 0x0010, "PN", patientName);
  w.Text(0x0010, 0x0020, "LO", "PID001");
  w.Text(0x0020, 0x000D, "UI", "1.2.3.4.1");
  w.Text(0x0020, 0x000E, "UI", "1.2.3.4.1.1");
  w.Text(0x0020, 0x0013, "IS", "7");
  w.PixelData(Bytes(pixelBytes, 0x11));
  return w.bytes();
}

struct Fixture : ::testing::Test {
  MemoryFileSource files;
  ListEntryReader reader{Log::Null(), &files};
  ListRecord record;
  bool Read(const std::string& path) {
    record.filePath = path;
    return reader.Read(path, record);
  }
};

using ListReaderTest = Fixture;

TEST_F(ListReaderTest, FillsFieldsOfAnExplicitFile) {
  files.Add("a.dcm", MakeFile(kExplicitLe, Dataset(1)));
  ASSERT_TRUE(Read("a.dcm"));
  EXPECT_EQ(record.filePath, "a.dcm");
  EXPECT_EQ(record.characterSetRaw.view(), "ISO_IR 100");
  EXPECT_EQ(record.characterSetValues[0].view(), "ISO_IR 100");
  EXPECT_EQ(record.sopInstanceUid.view(), "1.2.3.4.100");  // NUL padding is not text
  EXPECT_EQ(record.studyDate.view(), "20240131");
  EXPECT_EQ(record.modality.view(), "CT");
  EXPECT_EQ(record.patientNameRaw.view(), "Doe^John");
  EXPECT_EQ(record.patientNameGroups[0].view(), "Doe John");
  EXPECT_EQ(record.patientId.view(), "PID001");
  EXPECT_EQ(record.instanceNumber.view(), "7 ");  // copied with its padding, as stored
  EXPECT_EQ(reader.syntaxType(), 1);
  EXPECT_EQ(reader.readAttempts(), 1);
}

TEST_F(ListReaderTest, ClearsEveryFieldButThePathBeforeReading) {
  files.Add("full.dcm", MakeFile(kExplicitLe, Dataset(1)));
  DicomWriter bare(1);
  bare.Text(0x0008, 0x0060, "CS", "MR");
  bare.PixelData(Bytes(8, 0));
  files.Add("bare.dcm", MakeFile(kExplicitLe, bare.bytes()));
  ASSERT_TRUE(Read("full.dcm"));
  ASSERT_TRUE(Read("bare.dcm"));
  EXPECT_EQ(record.filePath, "bare.dcm");
  EXPECT_EQ(record.modality.view(), "MR");
  EXPECT_TRUE(record.patientId.empty());
  EXPECT_TRUE(record.patientNameGroups[0].empty());
  EXPECT_TRUE(record.sopInstanceUid.empty());
  // Without (0008,0005) the first character set is the default repertoire.
  EXPECT_EQ(record.characterSetValues[0].view(), "ISO 2022 IR 6");
  EXPECT_TRUE(record.characterSetRaw.empty());
}

TEST_F(ListReaderTest, KeepsLongPathsWhole) {
  const std::string path = "/" + std::string(400, 'd') + "/image.dcm";
  files.Add(path, MakeFile(kExplicitLe, Dataset(1)));
  ASSERT_TRUE(Read(path));
  EXPECT_EQ(record.filePath, path);
}

TEST_F(ListReaderTest, CutsValuesAtTheirFieldWidths) {
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "\\ISO 2022 IR 87\\ISO 2022 IR 13\\A_VERY_LONG_CHARSET_NAME\\X\\Y\\Z");
  w.Text(0x0008, 0x0020, "DA", "2024013199999");
  w.Text(0x0010, 0x0010, "PN", std::string(300, 'N'));
  w.Text(0x0010, 0x1010, "AS", "045Y123");
  w.PixelData(Bytes(4, 0));
  files.Add("w.dcm", MakeFile(kExplicitLe, w.bytes()));
  ASSERT_TRUE(Read("w.dcm"));
  EXPECT_EQ(record.studyDate.view(), "2024013199");
  EXPECT_EQ(record.patientAge.view(), "045Y");
  EXPECT_EQ(record.patientNameRaw.size(), 192u);
  EXPECT_EQ(record.patientNameGroups[0].size(), 64u);
  // An empty first value is the default repertoire; five values at most, 16 bytes each.
  EXPECT_EQ(record.characterSetValues[0].view(), "ISO 2022 IR 6");
  EXPECT_EQ(record.characterSetValues[1].view(), "ISO 2022 IR 87");
  EXPECT_EQ(record.characterSetValues[2].view(), "ISO 2022 IR 13");
  EXPECT_EQ(record.characterSetValues[3].view(), "A_VERY_LONG_CHAR");
  EXPECT_EQ(record.characterSetValues[4].view(), "X");
  EXPECT_EQ(record.characterSetRaw.size(), 62u);
}

TEST_F(ListReaderTest, ConvertsJapaneseNamesAndTexts) {
  // Alphabetic group with "^" and ","; ideographic group in JIS X 0208 whose second
  // pair holds an "=" byte (3D), which must not split the name.
  const std::string jisYamada = "\x1b$B;3ED\x1b(B";           // 山田
  const std::string jisWithEquals = "\x1b$B;3=;\x1b(B";      // 山 and the pair 3D 3B
  const std::string name = "Yamada^Taro,Jr=" + jisYamada + "^" + jisWithEquals;
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "\\ISO 2022 IR 87");
  w.Text(0x0008, 0x0080, "LO", "Byoin^" + jisYamada);
  w.Text(0x0010, 0x0010, "PN", name);
  w.Text(0x0010, 0x0020, "LO", jisYamada + "^1");
  w.PixelData(Bytes(4, 0));
  files.Add("j.dcm", MakeFile(kExplicitLe, w.bytes()));
  ASSERT_TRUE(Read("j.dcm"));
  EXPECT_EQ(record.patientNameGroups[0].view(), "Yamada Taro Jr");
  uint8_t s1, s2;
  JisToSjis(0x3D, 0x3B, &s1, &s2);
  const std::string pair{static_cast<char>(s1), static_cast<char>(s2)};
  EXPECT_EQ(record.patientNameGroups[1].view(), SJ("山田") + " " + SJ("山") + pair);
  EXPECT_TRUE(record.patientNameGroups[2].empty());
  EXPECT_EQ(record.patientNameRaw.view(), name.size() % 2 ? name + " " : name);  // raw, as stored
  // Text fields keep "^".
  EXPECT_EQ(record.institutionName.view(), "Byoin^" + SJ("山田"));
  EXPECT_EQ(record.patientId.view(), SJ("山田") + "^1");
}

TEST_F(ListReaderTest, DecidesTheEncoding) {
  // No preamble and no meta group, starting 08 00: implicit little endian.
  files.Add("implicit", Dataset(0));
  ASSERT_TRUE(Read("implicit"));
  EXPECT_EQ(reader.syntaxType(), 0);
  EXPECT_EQ(record.patientId.view(), "PID001");

  // A meta group that says implicit over an explicit data set: the probe decides.
  files.Add("lying", MakeFile(kImplicitLe, Dataset(1)));
  ASSERT_TRUE(Read("lying"));
  EXPECT_EQ(reader.syntaxType(), 1);
  EXPECT_EQ(record.patientId.view(), "PID001");

  files.Add("big", MakeFile(kExplicitBe, Dataset(2)));
  ASSERT_TRUE(Read("big"));
  EXPECT_EQ(reader.syntaxType(), 2);
  EXPECT_EQ(record.modality.view(), "CT");

  // Compressed syntaxes are explicit little endian.
  files.Add("jpegls", MakeFile("1.2.840.10008.1.2.4.80", Dataset(1)));
  ASSERT_TRUE(Read("jpegls"));
  EXPECT_EQ(reader.syntaxType(), 1);
}

TEST_F(ListReaderTest, ReadsGrowingPrefixesUntilThePixelDataHeaderIsIn) {
  // A file of 8000 bytes is read once, whole.
  DicomWriter small(1);
  small.Text(0x0010, 0x0020, "LO", "S");
  small.PixelData(Bytes(8000 - 132 - test::MakeMetaGroup(kExplicitLe, "1.2.840.10008.5.1.4.1.1.2").size() -
                            small.bytes().size() - 12,
                        0));
  Bytes smallFile = MakeFile(kExplicitLe, small.bytes());
  ASSERT_EQ(smallFile.size(), 8000u);
  files.Add("small", smallFile);
  ASSERT_TRUE(Read("small"));
  EXPECT_EQ(files.readCalls.load(), 1u);
  EXPECT_EQ(reader.readSize(), 8000u);

  // Pixel data behind 1 MiB: eight reads, the last of the whole file.
  DicomWriter big(1);
  big.Text(0x0010, 0x0020, "LO", "B");
  big.Element(0x0009, 0x1010, "OB", Bytes(1200000, 0x42));  // a large private blob in front
  big.PixelData(Bytes(100, 0));
  const Bytes bigFile = MakeFile(kExplicitLe, big.bytes());
  files.Add("big", bigFile);
  files.readCalls = 0;
  files.bytesRead = 0;
  ASSERT_TRUE(Read("big"));
  EXPECT_EQ(files.readCalls.load(), 8u);
  EXPECT_EQ(reader.readAttempts(), 8);
  EXPECT_EQ(reader.readSize(), bigFile.size());
  EXPECT_EQ(files.bytesRead.load(), 8192u + 32768 + 65536 + 131072 + 262144 + 524288 + 1048576 + bigFile.size());
  EXPECT_EQ(record.patientId.view(), "B ");

  // The pixel data element whose header straddles the 8 KiB prefix is found by the next read.
  DicomWriter edge(1);
  edge.Text(0x0010, 0x0020, "LO", "E");
  const size_t before = 132 + test::MakeMetaGroup(kExplicitLe, "1.2.840.10008.5.1.4.1.1.2").size();
  // Put the 12-byte pixel data header at 8192 - 6.
  edge.Element(0x0009, 0x1010, "OB", Bytes(8192 - 6 - before - edge.bytes().size() - 12, 0));
  edge.PixelData(Bytes(20000, 0));
  files.Add("edge", MakeFile(kExplicitLe, edge.bytes()));
  files.readCalls = 0;
  ASSERT_TRUE(Read("edge"));
  EXPECT_EQ(reader.readAttempts(), 2);
  EXPECT_EQ(reader.headerSize(), static_cast<int32_t>(8192 - 6 + 12 - before));

  // A later small file after the big one reads cleanly from the reused scratch buffer.
  ASSERT_TRUE(Read("small"));
  EXPECT_EQ(record.patientId.view(), "S ");
}

TEST_F(ListReaderTest, RejectsWithTheReason) {
  files.Add("empty", {});
  EXPECT_FALSE(Read("empty"));
  EXPECT_EQ(reader.failureMessage(), SJ("画像ファイル（empty）のサイズが 0 です"));

  EXPECT_FALSE(Read("missing"));
  EXPECT_EQ(reader.failureMessage(), SJ("画像ファイル（missing）のステータス取得に失敗"));

  files.Add("DICOMDIR", MakeFile(kExplicitLe, Dataset(1), true, "1.2.840.10008.1.3.10"));
  EXPECT_FALSE(Read("DICOMDIR"));
  EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです"));

  DicomWriter noPixels(1);
  noPixels.Text(0x0010, 0x0020, "LO", "X");
  files.Add("nopixels", MakeFile(kExplicitLe, noPixels.bytes()));
  EXPECT_FALSE(Read("nopixels"));
  EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです"));

  const std::string text = "This is a text file, not an image.\n";
  files.Add("notes.txt", Bytes(text.begin(), text.end()));
  EXPECT_FALSE(Read("notes.txt"));
  EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです"));

  // Pixel data whose element header is cut off by the end of the file.
  Bytes cut = MakeFile(kExplicitLe, Dataset(1, 0));
  cut.resize(cut.size() - 6);
  files.Add("cut", cut);
  EXPECT_FALSE(Read("cut"));
  EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです"));
}

// A FileSource whose files report one size but deliver fewer bytes.
class ShrinkingSource final : public FileSource {
 public:
  Bytes bytes;
  uint64_t reported = 0;
  FileStatus Stat(const std::string&, uint64_t* size) override {
    *size = reported;
    return FileStatus::kOk;
  }
  int64_t ReadPrefix(const std::string&, uint8_t* out, uint64_t count) override {
    const uint64_t n = std::min<uint64_t>(count, bytes.size());
    std::memcpy(out, bytes.data(), n);
    ++readCalls;
    return static_cast<int64_t>(n);
  }
};

TEST(ListReaderShortRead, AFileThatShrankIsReadAsFarAsItGoes) {
  ShrinkingSource src;
  DicomWriter w(1);
  w.Text(0x0010, 0x0020, "LO", "X");
  src.bytes = MakeFile(kExplicitLe, w.bytes());  // no pixel data
  src.reported = 5 * 1048576;
  ListEntryReader reader(Log::Null(), &src);
  ListRecord r;
  EXPECT_FALSE(reader.Read("x", r));
  // The first short read ends the attempts instead of allocating the reported size.
  EXPECT_EQ(src.readCalls.load(), 1u);
  EXPECT_EQ(reader.failureMessage(), SJ("未対応のフォーマットです"));
}

TEST(ListReaderDisk, RejectsWhatCannotBeReadAndReadsOddNames) {
  test::TempDir dir;
  ListEntryReader reader(Log::Null());
  ListRecord r;
  const Bytes good = MakeFile(kExplicitLe, Dataset(1));

  // A name that is not valid UTF-8 is read like any other.
  const std::string odd = dir.File("bad\xff\xfe-name.dcm");
  test::WriteBytes(odd, good);
  EXPECT_TRUE(reader.Read(odd, r)) << reader.failureMessage();

  // A folder is not a regular file.
  EXPECT_FALSE(reader.Read(dir.path(), r));
  EXPECT_EQ(reader.failureMessage(), Format(SJ("画像ファイル（%s）のステータス取得に失敗"), dir.path()));

  // A FIFO is never opened (opening it would block).
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(reader.Read(fifo, r));

  const std::string zero = dir.File("zero.dcm");
  test::WriteBytes(zero, {});
  EXPECT_FALSE(reader.Read(zero, r));
  EXPECT_EQ(reader.failureMessage(), Format(SJ("画像ファイル（%s）のサイズが 0 です"), zero));

}

TEST(ListReaderDisk, RejectsFilesWithoutReadRights) {
  test::TempDir dir;
  const Bytes good = MakeFile(kExplicitLe, Dataset(1));
  const std::string locked = dir.File("locked.dcm");
  test::WriteBytes(locked, good);
  test::OpenToEveryone(dir.path());
  ::chmod(locked.c_str(), 0);
  // Run as a user the file's mode applies to (CI runs as root, which reads anyway).
  const int result = test::RunUnprivileged([&] {
    if (::access(locked.c_str(), R_OK) == 0) return 2;
    ListEntryReader reader(Log::Null());
    ListRecord r;
    if (reader.Read(locked, r)) return 3;
    return reader.failureMessage() == Format(SJ("画像ファイル（%s）のアクセス権がありません"), locked) ? 0 : 4;
  });
  EXPECT_EQ(result, 0) << "2: file readable, 3: file accepted, 4: other message";
}

std::string ReadLogText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return Utf8FromSjis(ss.str());
}

TEST(ListReaderLog, WritesItsLinesAndRejectionsAsWarnings) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=3\nLogFileCount=1\n");
  RotateLogs(dir.path() + "/");
  Log log(dir.path() + "/");
  ASSERT_FALSE(log.disabled());
  MemoryFileSource files;
  files.Add("ok.dcm", MakeFile(kExplicitLe, Dataset(1)));
  files.Add("no.dcm", MakeFile(kExplicitLe, Bytes{0x10, 0x00, 0x20, 0x00, 'L', 'O', 2, 0, 'A', ' '}));
  ListEntryReader reader(log, &files);
  ListRecord r;
  ASSERT_TRUE(reader.Read("ok.dcm", r));
  ASSERT_FALSE(reader.Read("no.dcm", r));
  const std::string text = ReadLogText(log.path());
  for (const char* line : {"画像ファイル（ok.dcm）を読み出しました。", "仮のヘッダサイズ( ", "0008,xxxxの先頭ポインタ( ",
                           "Explicit VR Little Endian", "0008,xxxx ～ 7FE0,0010 のサイズ( ", "患者ID（PID001）",
                           "画像データのヘッダ解析の完了"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_NE(text.find(",警告,未対応のフォーマットです"), std::string::npos) << text;
}

}  // namespace
}  // namespace velmo
