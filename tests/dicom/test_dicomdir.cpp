// The DICOMDIR reader: the record walk over built directories, damaged ones, and the
// file reading around it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dicom/dicomdir.h"
#include "dicom/file_source.h"
#include "base/log.h"
#include "base/text.h"
#include "support/test_util.h"
#include "test_dicomdir_builder.h"

namespace velmo {
namespace {

using test::Bytes;
using test::DicomDirBuilder;
using test::VectorSink;

// Reads `file` as "/media/DICOMDIR" from memory.
struct Walk {
  explicit Walk(const Bytes& file, int32_t capacity = 5000) : sink(capacity) {
    files.Add("/media/DICOMDIR", file);
    options.files = &files;
    options.notifier = &notifier;
    options.matchCase = false;
    isDicomdir = ReadDicomDir("/media/DICOMDIR", sink, options);
  }
  MemoryFileSource files;
  test::RecordingNotifier notifier;
  DicomDirOptions options;
  VectorSink sink;
  bool isDicomdir = false;
  const std::vector<DicomDirImage>& images() const { return sink.images; }
};

TEST(DicomDirWalk, OneSeriesOfThreeImagesCarriesTheSameValues) {
  DicomDirBuilder b;
  const int p = b.Patient("PID1 ", "Doe^Jane");
  const int st = b.Study(p, "1.2.1", "20240102");
  const int se = b.Series(st, "1.2.1.1", "MR");
  b.Image(se, "DIR1\\IM1", "1");
  b.Image(se, "DIR1\\IM2", "2");
  b.Image(se, "DIR1\\SUB\\IM3", "3");
  Walk w(b.Build());
  ASSERT_TRUE(w.isDicomdir);
  ASSERT_EQ(w.images().size(), 3u);
  for (const DicomDirImage& im : w.images()) {
    EXPECT_EQ(im.patientId.view(), "PID1");  // trailing spaces removed
    EXPECT_EQ(im.patientNameGroups[0].view(), "Doe Jane");
    EXPECT_EQ(im.characterSetValues[0].view(), "ISO 2022 IR 6");
    EXPECT_EQ(im.studyDate.view(), "20240102");
    EXPECT_EQ(im.studyInstanceUid.view(), "1.2.1");
    EXPECT_EQ(im.seriesInstanceUid.view(), "1.2.1.1");
    EXPECT_EQ(im.modality.view(), "MR");
  }
  EXPECT_EQ(w.images()[0].filePath, "/media/DIR1/IM1");
  EXPECT_EQ(w.images()[1].filePath, "/media/DIR1/IM2");
  EXPECT_EQ(w.images()[2].filePath, "/media/DIR1/SUB/IM3");
  EXPECT_EQ(w.images()[1].instanceNumber.view(), "2 ");
  EXPECT_EQ(w.images()[2].sopInstanceUid.view(), "1.2.9.3");
  EXPECT_TRUE(w.notifier.entries.empty());
}

TEST(DicomDirWalk, EveryImageCarriesItsOwnPatientStudyAndSeries) {
  DicomDirBuilder b;
  const int p1 = b.Patient("P1", "One^Patient");
  const int s1 = b.Study(p1, "1.1");
  const int s1a = b.Series(s1, "1.1.1", "CT");
  b.records[static_cast<size_t>(s1a)].attrs.push_back({0x0018, 0x0015, "CS", "CHEST"});
  b.Image(s1a, "A\\1");
  b.Image(s1a, "A\\2");
  const int s1b = b.Series(s1, "1.1.2", "MR");  // no body part: must not inherit CHEST
  b.Image(s1b, "A\\3");
  const int s2 = b.Study(p1, "1.2", "20230303");
  const int s2a = b.Series(s2, "1.2.1", "US");
  b.Image(s2a, "A\\4");
  const int p2 = b.Add("PATIENT ", -1, {{0x0010, 0x0020, "LO", "P2"}});  // no name
  const int s3 = b.Study(p2, "2.1");
  const int s3a = b.Series(s3, "2.1.1", "XA");
  b.Image(s3a, "B\\5");
  Walk w(b.Build());
  ASSERT_EQ(w.images().size(), 5u);
  const auto& im = w.images();
  EXPECT_EQ(im[1].seriesInstanceUid.view(), "1.1.1");
  EXPECT_EQ(im[1].bodyPart.view(), "CHEST ");
  // Reached through the first series' next offset: the second series' values, the first study's.
  EXPECT_EQ(im[2].seriesInstanceUid.view(), "1.1.2");
  EXPECT_EQ(im[2].modality.view(), "MR");
  EXPECT_TRUE(im[2].bodyPart.empty());
  EXPECT_EQ(im[2].studyInstanceUid.view(), "1.1");
  EXPECT_EQ(im[3].studyInstanceUid.view(), "1.2");
  EXPECT_EQ(im[3].studyDate.view(), "20230303");
  EXPECT_EQ(im[3].seriesInstanceUid.view(), "1.2.1");
  EXPECT_EQ(im[3].patientId.view(), "P1");
  EXPECT_EQ(im[4].patientId.view(), "P2");
  EXPECT_TRUE(im[4].patientNameGroups[0].empty());
  EXPECT_EQ(im[4].studyInstanceUid.view(), "2.1");
  EXPECT_EQ(im[4].seriesInstanceUid.view(), "2.1.1");
  EXPECT_EQ(im[4].filePath, "/media/B/5");
}

TEST(DicomDirWalk, InactiveRecordsAreSkippedWithEverythingBelowThem) {
  DicomDirBuilder b;
  const int p = b.Patient("P", "N");
  const int st = b.Study(p, "1");
  const int dead = b.Series(st, "1.1");
  b.Image(dead, "X\\1");
  b.Image(dead, "X\\2");
  const int live = b.Series(st, "1.2");
  const int gone = b.Image(live, "X\\3");
  b.Image(live, "X\\4");
  const int deadStudy = b.Study(p, "2");
  const int s = b.Series(deadStudy, "2.1");
  b.Image(s, "X\\5");
  b.records[static_cast<size_t>(dead)].inUse = 0;
  b.records[static_cast<size_t>(gone)].inUse = 0;
  b.records[static_cast<size_t>(deadStudy)].inUse = 0;
  Walk w(b.Build());
  ASSERT_EQ(w.images().size(), 1u);
  EXPECT_EQ(w.images()[0].filePath, "/media/X/4");
  EXPECT_EQ(w.images()[0].seriesInstanceUid.view(), "1.2");
}

TEST(DicomDirWalk, StopsAtTheConfiguredMaximumWithAMessage) {
  DicomDirBuilder b;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  for (int i = 1; i <= 3; ++i) b.Image(se, "I\\" + std::to_string(i));
  Walk w(b.Build(), 2);
  EXPECT_EQ(w.images().size(), 2u);
  ASSERT_EQ(w.notifier.entries.size(), 1u);
  EXPECT_EQ(w.notifier.entries[0].caption, SJ("警告"));
  EXPECT_EQ(w.notifier.entries[0].message, SJ("DICOMDIRの画像数が設定値（2）を超えました"));
  EXPECT_EQ(w.notifier.entries[0].icon, NoticeIcon::Warning);

  // Exactly as many images as the maximum: no message.
  Walk exact(b.Build(), 3);
  EXPECT_EQ(exact.images().size(), 3u);
  EXPECT_TRUE(exact.notifier.entries.empty());
}

TEST(DicomDirWalk, OtherRecordTypesAreWalkedThroughNotFollowed) {
  DicomDirBuilder b;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  const int priv = b.Add("PRIVATE ", se, {{0x0004, 0x1500, "CS", "PRIV\\FILE"}});
  b.Image(se, "I\\1", "1");
  const int second = b.Image(se, "I\\2", "2");
  b.Build();
  // The private record's next offset skips the first image; it must not be used.
  b.records[static_cast<size_t>(priv)].next = b.offsets[static_cast<size_t>(second)];
  Walk w(b.Build());
  ASSERT_EQ(w.images().size(), 2u);
  EXPECT_EQ(w.images()[0].filePath, "/media/I/1");
  EXPECT_EQ(w.images()[1].filePath, "/media/I/2");
}

TEST(DicomDirWalk, ReadsImplicitAndBigEndianDirectories) {
  for (int syntax : {0, 2}) {
    DicomDirBuilder b(syntax);
    const int se = b.Series(b.Study(b.Patient("P", "Doe^J"), "1"), "1.1", "CR");
    b.Image(se, "I\\1");
    b.Image(se, "I\\2");
    Walk w(b.Build());
    ASSERT_EQ(w.images().size(), 2u) << "syntax " << syntax;
    EXPECT_EQ(w.images()[1].filePath, "/media/I/2");
    EXPECT_EQ(w.images()[1].modality.view(), "CR");
    EXPECT_EQ(w.images()[1].patientNameGroups[0].view(), "Doe J ");
  }
}

TEST(DicomDirWalk, ConvertsJapaneseValues) {
  DicomDirBuilder b;
  const std::string yamada = "\x1b$B;3ED\x1b(B";
  const int p = b.Add("PATIENT ", -1,
                      {{0x0008, 0x0005, "CS", "\\ISO 2022 IR 87"},
                       {0x0010, 0x0010, "PN", "Yamada^Taro=" + yamada + "^" + yamada + "^"},
                       {0x0010, 0x0020, "LO", yamada + "^01"}});
  const int st = b.Add("STUDY ", p, {{0x0008, 0x0050, "SH", "AC" + yamada + "  "}});
  b.Image(b.Series(st, "1"), "I\\1");
  Walk w(b.Build());
  ASSERT_EQ(w.images().size(), 1u);
  const DicomDirImage& im = w.images()[0];
  EXPECT_EQ(im.characterSetRaw.view(), "\\ISO 2022 IR 87 ");
  EXPECT_EQ(im.characterSetValues[0].view(), "ISO 2022 IR 6");
  EXPECT_EQ(im.characterSetValues[1].view(), "ISO 2022 IR 87 ");
  EXPECT_EQ(im.patientNameGroups[0].view(), "Yamada Taro");
  EXPECT_EQ(im.patientNameGroups[1].view(), SJ("山田") + " " + SJ("山田") + " ");
  EXPECT_EQ(im.patientId.view(), SJ("山田") + "^01");  // "^" kept in IDs
  EXPECT_EQ(im.accessionNumber.view(), "AC" + SJ("山田"));
}

// Damaged directories: the walk always ends, and what was read before the damage stays.
TEST(DicomDirDamage, LoopsEnd) {
  {
    DicomDirBuilder b;
    const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
    const int im = b.Image(se, "I\\1");
    b.Build();
    b.records[static_cast<size_t>(im)].next = b.offsets[static_cast<size_t>(im)];  // itself
    Walk w(b.Build());
    EXPECT_EQ(w.images().size(), 1u);
  }
  {
    DicomDirBuilder b;
    const int p = b.Patient("P", "N");
    const int se = b.Series(b.Study(p, "1"), "1.1");
    b.Image(se, "I\\1");
    const int last = b.Image(se, "I\\2");
    b.Build();
    b.records[static_cast<size_t>(last)].next = b.offsets[static_cast<size_t>(p)];  // back to the top
    Walk w(b.Build());
    EXPECT_EQ(w.images().size(), 2u);
  }
  {
    // Two patients whose next offsets point at each other.
    DicomDirBuilder b;
    const int p1 = b.Patient("P1", "N");
    const int p2 = b.Patient("P2", "N");
    b.Build();
    b.records[static_cast<size_t>(p2)].next = b.offsets[static_cast<size_t>(p1)];
    Walk w(b.Build());
    EXPECT_TRUE(w.images().empty());
  }
}

TEST(DicomDirDamage, OffsetsOutsideTheFileEndTheWalk) {
  for (uint32_t bad : {0xFFFFFF00u, 100000u, 50u /* before the data behind the preamble */}) {
    DicomDirBuilder b;
    const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
    const int im = b.Image(se, "I\\1");
    b.Image(se, "I\\2");
    b.records[static_cast<size_t>(im)].next = bad;
    Walk w(b.Build());
    EXPECT_EQ(w.images().size(), 1u) << bad;
  }
  // A first-record offset past the end reads nothing.
  DicomDirBuilder b;
  b.Image(b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1"), "I\\1");
  Bytes file = b.Build();
  b.records[0].lower = 0xFFFFFFF0u;
  Walk w(b.Build());
  EXPECT_TRUE(w.images().empty());
}

TEST(DicomDirDamage, AnEmptyRecordTypeEndsTheWalk) {
  DicomDirBuilder b;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  b.Image(se, "I\\1");
  const int blank = b.Add("", se, {{0x0004, 0x1500, "CS", "I\\X"}});
  b.Image(se, "I\\3");
  (void)blank;
  Walk w(b.Build());
  ASSERT_EQ(w.images().size(), 1u);
  EXPECT_EQ(w.images()[0].filePath, "/media/I/1");
}

TEST(DicomDirDamage, MissingFirstRecordOffsetStartsAtTheFirstRecord) {
  DicomDirBuilder b;
  b.withFirstRecordOffset = false;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  b.Image(se, "I\\1");
  b.Image(se, "I\\2");
  Walk w(b.Build());
  EXPECT_EQ(w.images().size(), 2u);
}

TEST(DicomDirDamage, UnsafeOrEmptyFileIdsAreSkipped) {
  DicomDirBuilder b;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  b.Image(se, "..\\ETC\\PASSWD");
  b.Image(se, "A\\\\B");
  b.Image(se, "\\ROOT");
  b.Image(se, "A/..\\..\\X");
  b.Add("IMAGE ", se, {{0x0020, 0x0013, "IS", "9"}});  // no file ID at all
  b.Image(se, "OK\\IM1");  // odd length: stored with a padding space
  Walk w(b.Build());
  ASSERT_EQ(w.images().size(), 1u);
  EXPECT_EQ(w.images()[0].filePath, "/media/OK/IM1");
}

TEST(DicomDirFile, OnlyDicomdirsAreRead) {
  DicomDirBuilder b;
  b.Image(b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1"), "I\\1");
  Walk image(b.Build("1.2.840.10008.5.1.4.1.1.2"));
  EXPECT_FALSE(image.isDicomdir);
  EXPECT_TRUE(image.images().empty());
  EXPECT_TRUE(image.notifier.entries.empty());

  VectorSink sink;
  MemoryFileSource none;
  DicomDirOptions options;
  options.files = &none;
  EXPECT_FALSE(ReadDicomDir("/nowhere/DICOMDIR", sink, options));

  // An empty file and a file of garbage are passed over.
  MemoryFileSource junk;
  junk.Add("/j/DICOMDIR", Bytes(1000, 0xFF));
  junk.Add("/j/EMPTY", {});
  options.files = &junk;
  EXPECT_FALSE(ReadDicomDir("/j/DICOMDIR", sink, options));
  EXPECT_FALSE(ReadDicomDir("/j/EMPTY", sink, options));
  EXPECT_TRUE(sink.images.empty());
}

TEST(DicomDirFile, UnsupportedTransferSyntaxIsShownOncePerFailingTest) {
  // "1.2.840.10008.1.2.4.71": its 21st character is not "5" and its 22nd is not "0".
  DicomDirBuilder b;
  b.transferSyntax = "1.2.840.10008.1.2.4.71";
  b.Image(b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1"), "I\\1");
  Walk w(b.Build());
  EXPECT_TRUE(w.isDicomdir);
  EXPECT_EQ(w.images().size(), 1u);  // read as explicit little endian
  ASSERT_EQ(w.notifier.entries.size(), 2u);
  for (const auto& e : w.notifier.entries) {
    EXPECT_EQ(e.message, SJ("圧縮（JPEG）された未対応のフォーマットです"));
    EXPECT_EQ(e.caption, SJ("警告"));
  }
}

TEST(DicomDirPaths, FileIdsBecomePathsAndCaseIsMatchedOnDisk) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() + "/dicom/ser01");
  test::WriteBytes(dir.path() + "/dicom/ser01/im0001", Bytes{1});
  test::WriteBytes(dir.path() + "/dicom/ser01/IM0002", Bytes{1});
  const std::string folder = dir.path() + "/";
  std::string out;
  ASSERT_TRUE(ReferencedFilePath(folder, "DICOM\\SER01\\IM0001 ", true, out));
  EXPECT_EQ(out, folder + "dicom/ser01/im0001");
  ASSERT_TRUE(ReferencedFilePath(folder, "DICOM\\SER01\\IM0002", true, out));
  EXPECT_EQ(out, folder + "dicom/ser01/IM0002");
  // A file that exists nowhere keeps the matched folders and its stored name.
  ASSERT_TRUE(ReferencedFilePath(folder, "DICOM\\SER01\\IM0003", true, out));
  EXPECT_EQ(out, folder + "dicom/ser01/IM0003");
  ASSERT_TRUE(ReferencedFilePath(folder, "NOPE\\IM1", true, out));
  EXPECT_EQ(out, folder + "NOPE/IM1");
  // Without matching the ID is used as stored.
  ASSERT_TRUE(ReferencedFilePath(folder, "DICOM\\SER01\\IM0001", false, out));
  EXPECT_EQ(out, folder + "DICOM/SER01/IM0001");
  EXPECT_FALSE(ReferencedFilePath(folder, "A\\..\\B", true, out));
  EXPECT_FALSE(ReferencedFilePath(folder, "   ", true, out));
  EXPECT_EQ(FolderOf("/a/b/DICOMDIR"), "/a/b/");
  EXPECT_EQ(FolderOf("DICOMDIR"), "");
}

TEST(DicomDirPaths, MissingReferencedFilesStillGiveEntries) {
  test::TempDir dir;
  DicomDirBuilder b;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  b.Image(se, "IMG\\IM1");
  b.Image(se, "IMG\\IM2");
  test::WriteBytes(dir.File("DICOMDIR"), b.Build());
  std::filesystem::create_directories(dir.path() + "/img");
  test::WriteBytes(dir.path() + "/img/im1", Bytes{1});
  VectorSink sink;
  EXPECT_TRUE(ReadDicomDir(dir.File("DICOMDIR"), sink));
  ASSERT_EQ(sink.images.size(), 2u);
  EXPECT_EQ(sink.images[0].filePath, dir.path() + "/img/im1");
  EXPECT_EQ(sink.images[1].filePath, dir.path() + "/img/IM2");  // not there; reading it fails later
}

TEST(DicomDirLog, WritesItsLines) {
  test::TempDir dir;
  test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=3\nLogFileCount=1\n");
  RotateLogs(dir.path() + "/");
  Log log(dir.path() + "/");
  DicomDirBuilder b;
  const int se = b.Series(b.Study(b.Patient("P", "N"), "1"), "1.1");
  b.Image(se, "..\\X");
  MemoryFileSource files;
  files.Add("/m/DICOMDIR", b.Build());
  VectorSink sink;
  DicomDirOptions options;
  options.files = &files;
  options.log = &log;
  options.matchCase = false;
  int repaints = 0;
  options.repaint = [&] { ++repaints; };
  EXPECT_TRUE(ReadDicomDir("/m/DICOMDIR", sink, options));
  EXPECT_FALSE(ReadDicomDir("/m/none", sink, options));
  EXPECT_EQ(repaints, 1);
  std::ifstream in(log.path(), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = Utf8FromSjis(ss.str());
  for (const char* line : {"正常,DICOMDIRファイルの読み出しと解析を開始", "正常,DICOMDIRファイル[/m/DICOMDIR]の読み出し",
                           "正常,Explicit VR Little Endian", "正常,DICOMDIRの解析と表示の開始",
                           "警告,DICOMDIRの参照ファイルID（..\\X）が不正なので画像を読み飛ばします",
                           "正常,DICOMDIRの解析と表示の終了", "正常,DICOMDIRファイルの読み出しと解析の完了",
                           "正常,ファイルのステータスが取得できないのでファイルの読み込みを中止する"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace velmo
