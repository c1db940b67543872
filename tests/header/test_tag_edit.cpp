// Value encoding and the per-file writers on real files: the result is read back by
// DCMTK and pydicom, the backup holds the old bytes, and refusals leave the file
// and the backup folder alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "browser/study_tree.h"
#include "browser/test_intake_files.h"
#include "test_tag_edit_fixture.h"

namespace velmo::test {
namespace {

const std::string kEsc = "\x1b";

TEST(TagValueEncoding, BoxesBecomeTheBytesOfTheElement) {
  struct {
    const char* vr;
    std::string boxes[3];  // UTF-8
    std::string expected;
    uint32_t length;
  } cases[] = {
      // Latin person name: spaces become carets, no "=" without other groups.
      {"PN", {"YAMADA TAROU", "", ""}, "YAMADA^TAROU", 12},
      // The three-group example of the standard's Japanese annex.
      {"PN",
       {"Yamada Tarou", "山田 太郎", "やまだ たろう"},
       "Yamada^Tarou=" + kEsc + "$B;3ED" + kEsc + "(B^" + kEsc + "$BB@O:" + kEsc + "(B=" + kEsc + "$B$d$^$@" + kEsc +
           "(B^" + kEsc + "$B$?$m$&" + kEsc + "(B",
       0},
      // An empty third group leaves the trailing "=" (then padded to even length).
      {"PN", {"AB", "C", ""}, "AB=C= ", 6},
      {"PN", {"A", "", "C"}, "A==C", 4},
      // Half-width katakana: as they are in the first group, escaped in the others.
      {"PN", {"ﾔﾏﾀﾞ ﾀﾛｳ", "ﾔﾏﾀﾞ", ""}, "\xd4\xcf\xc0\xde^\xc0\xdb\xb3=" + kEsc + ")I\xd4\xcf\xc0\xde" + kEsc + "(B=", 0},
      // Texts keep their spaces; each double-byte run is closed before single bytes.
      {"LO", {"東京 病院", "", ""}, kEsc + "$BEl5~" + kEsc + "(B " + kEsc + "$BIB1!" + kEsc + "(B ", 0},
      {"LO", {"CT 東京", "", ""}, "CT " + kEsc + "$BEl5~" + kEsc + "(B ", 0},
      // A mixed run: kanji straight into half-width katakana and back to ASCII.
      {"SH", {"東ｱA", "", ""}, kEsc + "$BEl" + kEsc + "(B" + kEsc + ")I\xb1" + kEsc + "(BA", 0},
      // Other VRs as they stand, padded with NUL for UI and a space otherwise.
      {"UI", {"1.2.3", "", ""}, std::string("1.2.3\0", 6), 6},
      {"CS", {"CT1", "", ""}, "CT1 ", 4},
      {"DA", {"東京", "", ""}, "\x93\x8c\x8b\x9e", 4},
      // Numbers stay decimal text; the length is the binary size.
      {"US", {"512", "", ""}, "512", 2},
      {"FL", {"0.5", "", ""}, "0.5", 4},
      {"FD", {"-1", "", ""}, "-1", 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.vr) + " " + c.boxes[0]);
    const std::string boxes[3] = {SjisFromUtf8(c.boxes[0]), SjisFromUtf8(c.boxes[1]), SjisFromUtf8(c.boxes[2])};
    TagChange change;
    ASSERT_TRUE(EncodeTagValue(c.vr, boxes, &change));
    EXPECT_EQ(change.value, c.expected);
    EXPECT_EQ(change.valueLength, c.length ? c.length : c.expected.size());
    EXPECT_EQ(std::string(change.vr), c.vr);
    if (std::string(c.vr) == "LO" || std::string(c.vr) == "SH") {
      // The file loader's reader gives the typed text back.
      std::string back = Iso2022ToSjis(change.value, Iso2022Options{false, false, true});
      while (!back.empty() && back.back() == ' ') back.pop_back();
      EXPECT_EQ(back, boxes[0]);
    }
  }
  const std::string tooLong[3] = {std::string(kMaxEncodedValue + 1, 'a'), "", ""};
  TagChange change;
  EXPECT_FALSE(EncodeTagValue("LT", tooLong, &change));
  const std::string justFits[3] = {std::string(kMaxEncodedValue, 'a'), "", ""};
  EXPECT_TRUE(EncodeTagValue("LT", justFits, &change));
}

TEST(TagEditCommands, RefusalsAndInputChecks) {
  struct {
    const char* group;
    const char* vr;
    const char* vm;
    const char* refusal;  // UTF-8, "" for none
  } edits[] = {
      {"0009", "LO", "1", "プライベートタグは編集できません"},
      {"0029", "UN", "1", "プライベートタグは編集できません"},
      {"0010", "OB or OW", "1", "値表現(VR)が OB、OW、SQ は編集できません"},
      {"0008", "SQ", "1", "値表現(VR)が OB、OW、SQ は編集できません"},
      {"0028", "US", "1", ""},
      {"0028", "US", "1-n", ""},
      {"0028", "US", "2", "値表現(VR)が SS、US、SL、UL、FL、FD かつ 値複数度(VM)が 1 以上は編集できません"},
      {"0018", "FD", "3", "値表現(VR)が SS、US、SL、UL、FL、FD かつ 値複数度(VM)が 1 以上は編集できません"},
      {"0010", "PN", "2", ""},
  };
  for (const auto& e : edits) {
    EXPECT_EQ(Utf8FromSjis(EditRefusal(e.group, e.vr, e.vm)), e.refusal) << e.group << " " << e.vr << " " << e.vm;
  }
  struct {
    const char *group, *element, *vr, *refusal;
    uint8_t bytes[4];
  } adds[] = {
      {"10", "0010", "PN", "ｸﾞﾙｰﾌﾟ が入力されていません", {}},
      {"0010", "00100", "PN", "ｴﾚﾒﾝﾄ が入力されていません", {}},
      {"0010", "0010", "P", "値表現(VR) が入力されていません", {}},
      {"0010", "1030", "DS", "", {0x00, 0x10, 0x10, 0x30}},
      {"7fe0", "G010", "OB", "", {0x7F, 0xE0, 0x00, 0x10}},  // a byte is read up to its first non-digit
  };
  for (const auto& a : adds) {
    TagChange c;
    EXPECT_EQ(Utf8FromSjis(ReadTagTexts(a.group, a.element, a.vr, &c)), a.refusal) << a.group << "," << a.element;
    if (!*a.refusal) {
      EXPECT_EQ((std::vector<uint8_t>{c.groupHigh, c.groupLow, c.elementHigh, c.elementLow}),
                (std::vector<uint8_t>(a.bytes, a.bytes + 4)));
    }
  }
  TagChange c;
  ASSERT_EQ(ReadTagTexts("7fe0", "0010", "OW", &c), "");
  EXPECT_EQ(c.groupText + c.elementText, "7FE00010");
  EXPECT_EQ(Utf8FromSjis(ScopeQuestion(2)), "シリーズ単位で情報を書き換えますか？");
  EXPECT_EQ(Utf8FromSjis(DeleteQuestion(0, "0010", "0010", SjisFromUtf8("患者名"))),
            "患者ID単位で ﾀｸﾞの (0010,0010) 患者名 を削除しますか？");
}

TEST(TagEditCommands, ImagesInScopeFollowTheListLevel) {
  FileTable t;
  t.Allocate(20);
  auto add = [&](const char* patient, const char* study, const char* series, const char* sop) {
    ListFile f;
    f.patientId = patient;
    f.studyUid = study;
    f.seriesUid = series;
    f.sopUid = sop;
    AddRecord(t, f);
  };
  add("P1", "S1", "E1", "I0");  // 0
  add("P1", "S1", "E2", "I1");  // 1
  add("P2", "S2", "E3", "I2");  // 2
  add("P1", "S3", "E4", "I3");  // 3
  add("P1", "S1", "E1", "I4");  // 4
  StudyTree tree;
  tree.Build(t);
  EXPECT_EQ(ImagesInScope(tree, 3, 4), (std::vector<int32_t>{4}));
  EXPECT_EQ(ImagesInScope(tree, 2, 4), (std::vector<int32_t>{0, 4}));
  EXPECT_EQ(ImagesInScope(tree, 1, 4), (std::vector<int32_t>{0, 4, 1}));
  EXPECT_EQ(ImagesInScope(tree, 0, 4), (std::vector<int32_t>{0, 4, 1, 3}));
  EXPECT_EQ(ImagesInScope(tree, 0, 2), (std::vector<int32_t>{2}));
  EXPECT_TRUE(ImagesInScope(tree, 0, 9).empty());
}

// A small image in each encoding the writers handle.
Bytes SampleFile(const std::string& ts, int syntax, bool meta = true) {
  DicomWriter w(syntax);
  w.U32(0x0008, 0x0000, 0);
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  w.Text(0x0008, 0x0060, "CS", "OT");
  w.U32(0x0010, 0x0000, 40);
  w.Text(0x0010, 0x0010, "PN", "YAMADA^TAROU");
  w.Text(0x0010, 0x0020, "LO", "ID0001");
  w.U16(0x0028, 0x0002, 1);
  w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  w.U16(0x0028, 0x0010, 2);
  w.U16(0x0028, 0x0011, 2);
  w.U16(0x0028, 0x0100, 16);
  w.U16(0x0028, 0x0101, 12);
  w.U16(0x0028, 0x0102, 11);
  w.U16(0x0028, 0x0103, 0);
  w.PixelData(Bytes(8, 1));
  return MakeFile(meta ? ts : "", w.bytes(), meta, "1.2.840.10008.5.1.4.1.1.7");
}

TEST(TagWriters, EditAddDeleteInEveryEncodingReadBackByDcmtkAndPydicom) {
  const bool dcmdump = HaveDcmdump(), pydicom = HavePydicom();
  if (!dcmdump) std::printf("dcmdump not found: DCMTK read-back skipped\n");
  if (!pydicom) std::printf("pydicom not found: pydicom read-back skipped\n");
  struct Encoding {
    const char* name;
    Bytes file;
  } encodings[] = {
      {"implicit", SampleFile("1.2.840.10008.1.2", 0)},
      {"explicit", SampleFile("1.2.840.10008.1.2.1", 1)},
      {"big", SampleFile("1.2.840.10008.1.2.2", 2)},
      {"no-meta-implicit", SampleFile("", 0, false)},
  };
  enum Op { kEdit, kAdd, kDelete };
  struct Step {
    Op op;
    TagChange change;
    int64_t growth;
    const char* shows;     // in dcmdump's listing after the step ("" for none)
    const char* gone;      // no longer in the listing ("" for none)
    const char* backupTag; // the operation and tag part of the backup name
  } steps[] = {
      {kEdit, Change(0x0010, 0x0010, "PN", "SATO JIRO"), -2, "[SATO^JIRO]", "YAMADA", "_Edit00100010_"},
      {kAdd, Change(0x0010, 0x1030, "DS", "72.5"), 12, "[72.5]", "", "_Add00101030_"},
      {kEdit, Change(0x0028, 0x0010, "US", "512"), 0, "US 512", "", "_Edit00280010_"},
      {kDelete, Change(0x0010, 0x0020, "LO", ""), -14, "", "(0010,0020)", "_Del00100020_"},
      {kAdd, Change(0x0002, 0x0013, "SH", "VELMO"), 14, "[VELMO]", "", "_Add00020013_"},
  };
  for (const Encoding& e : encodings) {
    TagEditFixture fx;
    const std::string path = fx.tmp.File("IM0001.dcm");
    WriteBytes(path, e.file);
    int backups = 0;
    for (const Step& s : steps) {
      SCOPED_TRACE(std::string(e.name) + " " + s.backupTag);
      const Bytes before = ReadBytes(path);
      TagWriteReport report;
      const bool noMeta = s.change.group() == 2 && std::string(e.name) == "no-meta-implicit";
      const bool ok = s.op == kEdit  ? EditElementInFile(path, s.change, fx.env, &report)
                      : s.op == kAdd ? AddElementToFile(path, s.change, fx.env, &report)
                                     : DeleteElementFromFile(path, s.change, fx.env, &report);
      if (noMeta) {
        // A meta element cannot go into a file without a meta group.
        EXPECT_FALSE(ok);
        EXPECT_EQ(ReadBytes(path), before);
        continue;
      }
      ASSERT_TRUE(ok) << Utf8FromSjis(report.failure);
      EXPECT_TRUE(report.changed);
      const Bytes after = ReadBytes(path);
      EXPECT_EQ(static_cast<int64_t>(after.size()), static_cast<int64_t>(before.size()) + s.growth);
      // The backup holds the bytes before the change, under the documented name.
      ++backups;
      EXPECT_EQ(FilesIn(fx.Backups()).size(), static_cast<size_t>(backups));
      EXPECT_EQ(ReadBytes(report.backupPath), before);
      EXPECT_TRUE(std::regex_match(std::filesystem::path(report.backupPath).filename().string(),
                                   std::regex(std::string("IM0001") + s.backupTag + "[0-9]{17}\\.dcm")))
          << report.backupPath;
      std::string listing;
      if (dcmdump) {
        EXPECT_TRUE(DcmdumpParses(path, &listing)) << listing;
        if (*s.shows) {
        EXPECT_NE(listing.find(s.shows), std::string::npos) << listing;
      }
        if (*s.gone) {
        EXPECT_EQ(listing.find(s.gone), std::string::npos) << listing;
      }
      }
      if (pydicom) {
        EXPECT_TRUE(PydicomParses(path, &listing)) << listing;
      }
    }
    const std::string log = fx.LogText();
    for (const char* line : {"画像ファイル（", "を読み出しました。", "書き換え後の画像データの保存（",
                             "の(0010,0010)を書き換えました。", "に(0010,1030)を追加しました。",
                             "の(0010,0020)を削除しました。"}) {
      EXPECT_NE(log.find(line), std::string::npos) << e.name << ": " << line << "\n" << log;
    }
    EXPECT_TRUE(fx.notifier.entries.empty());
  }
}

TEST(TagWriters, AddingToASeriesOfTwentyFiles) {
  TagEditFixture fx;
  const Bytes original = SampleFile("1.2.840.10008.1.2.1", 1);
  std::vector<std::string> paths;
  for (int i = 0; i < 20; ++i) {
    paths.push_back(fx.tmp.File("IM" + std::to_string(100 + i)));
    WriteBytes(paths.back(), original);
  }
  const TagChange change = Change(0x0010, 0x1030, "DS", "72.5");
  for (const std::string& p : paths) ASSERT_TRUE(AddElementToFile(p, change, fx.env));
  const std::vector<std::string> backups = FilesIn(fx.Backups());
  ASSERT_EQ(backups.size(), 20u);
  for (const std::string& name : backups) {
    // Files without an extension keep none.
    EXPECT_TRUE(std::regex_match(name, std::regex("IM1[0-9]{2}_Add00101030_[0-9]{17}"))) << name;
    EXPECT_EQ(ReadBytes(fx.Backups() + "/" + name), original);
  }
  for (const std::string& p : paths) EXPECT_EQ(ReadBytes(p).size(), original.size() + 12);
}

// The batch gives each file exactly what the single-file writer gives it.
TEST(TagWriters, BatchMatchesTheSingleFileWriters) {
  const Bytes original = SampleFile("1.2.840.10008.1.2", 0);
  for (TagOperation op : {TagOperation::kEdit, TagOperation::kAdd, TagOperation::kDelete}) {
    const TagChange change = op == TagOperation::kEdit  ? Change(0x0010, 0x0010, "PN", "山田 太郎")
                             : op == TagOperation::kAdd ? Change(0x0010, 0x1030, "DS", "72.5")
                                                        : Change(0x0010, 0x0020, "LO", "");
    TagEditFixture single, batch;
    const std::string one = single.tmp.File("IM0");
    WriteBytes(one, original);
    ASSERT_TRUE(op == TagOperation::kEdit  ? EditElementInFile(one, change, single.env)
                : op == TagOperation::kAdd ? AddElementToFile(one, change, single.env)
                                           : DeleteElementFromFile(one, change, single.env));
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
      paths.push_back(batch.tmp.File("IM" + std::to_string(i)));
      if (i != 3) WriteBytes(paths.back(), original);  // IM3 is missing
    }
    const std::vector<TagWriteReport> reports = ApplyTagChange(op, paths, change, batch.env);
    ASSERT_EQ(reports.size(), paths.size());
    for (int i = 0; i < 6; ++i) {
      SCOPED_TRACE(paths[i]);
      EXPECT_EQ(reports[i].ok(), i != 3);
      if (i == 3) continue;
      EXPECT_TRUE(reports[i].changed);
      EXPECT_EQ(ReadBytes(paths[i]), ReadBytes(one));
      EXPECT_EQ(ReadBytes(reports[i].backupPath), original);
    }
    EXPECT_EQ(FilesIn(batch.Backups()).size(), 5u);
    EXPECT_EQ(FilesIn(batch.tmp.path()).size(), 6u);  // five files and the installation: no temporary left
    // A second run finds every file already changed (delete: nothing left to remove).
    const std::vector<TagWriteReport> again = ApplyTagChange(op, {paths[0]}, change, batch.env);
    EXPECT_EQ(again[0].ok(), op != TagOperation::kDelete);
    EXPECT_FALSE(again[0].changed);
  }
}

// Deletion of elements of every shape: the result is exactly the file built without
// the element, with the group length reduced by what was removed.
TEST(TagWriters, DeleteRemovesWholeElementsOfEveryShape) {
  using Build = void (*)(DicomWriter&, bool withTarget);
  struct Row {
    const char* name;
    int syntax;
    uint16_t group, element;
    Build build;
  } rows[] = {
      {"undefined-length sequence with nested undefined items", 1, 0x0008, 0x1140,
       [](DicomWriter& w, bool with) {
         if (with) {
           w.BeginSequence(0x0008, 0x1140, true).BeginItem(true);
           w.Text(0x0008, 0x1150, "UI", "1.2");
           w.BeginSequence(0x0008, 0x1199, true).BeginItem(true).Text(0x0008, 0x1155, "UI", "1.3").EndItem();
           w.BeginItem(false).Text(0x0008, 0x1155, "UI", "1.4").EndItem().EndSequence();
           w.EndItem().BeginItem(false).EndItem().EndSequence();
         }
       }},
      {"implicit undefined-length sequence", 0, 0x0008, 0x1140,
       [](DicomWriter& w, bool with) {
         if (with) {
           w.BeginSequence(0x0008, 0x1140, true).BeginItem(true).Text(0x0008, 0x1150, "UI", "1.2");
           w.EndItem().EndSequence();
         }
       }},
      {"defined-length sequence, big endian", 2, 0x0008, 0x1140,
       [](DicomWriter& w, bool with) {
         if (with) {
           w.BeginSequence(0x0008, 0x1140, false).BeginItem(false).Text(0x0008, 0x1150, "UI", "1.2");
           w.EndItem().EndSequence();
         }
       }},
      {"long-form UC", 1, 0x0008, 0x1140,
       [](DicomWriter& w, bool with) {
         if (with) w.Element(0x0008, 0x1140, "UC", std::string(300, 'u'));
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto make = [&](bool with) {
      DicomWriter body(r.syntax);
      body.Text(0x0008, 0x0018, "UI", "1.2.3.4");
      r.build(body, with);
      body.Text(0x0008, 0x1155, "UI", "9.9");
      DicomWriter w(r.syntax);
      w.U32(0x0008, 0x0000, static_cast<uint32_t>(body.bytes().size()));
      w.Raw(body.bytes());
      w.Text(0x0010, 0x0010, "PN", "A^B");
      w.PixelData(Bytes(4, 3));
      const char* ts = r.syntax == 0 ? "1.2.840.10008.1.2" : r.syntax == 1 ? "1.2.840.10008.1.2.1" : "1.2.840.10008.1.2.2";
      return MakeFile(ts, w.bytes());
    };
    TagEditFixture fx;
    const std::string path = fx.tmp.File("a.dcm");
    WriteBytes(path, make(true));
    TagChange c;
    c.SetTag(r.group, r.element);
    TagWriteReport report;
    ASSERT_TRUE(DeleteElementFromFile(path, c, fx.env, &report)) << Utf8FromSjis(report.failure);
    EXPECT_EQ(ReadBytes(path), make(false));
  }
}

TEST(TagWriters, RefusedChangesLeaveFileAndBackupsAlone) {
  DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  w.BeginSequence(0x0008, 0x1140, false).BeginItem(false).Text(0x0008, 0x1150, "UI", "1.2").EndItem().EndSequence();
  w.Header(0x0008, 0x1199, "SQ", 0xFFFFFFFFu);
  w.BeginItem(true).EndItem();  // no sequence delimiter follows
  const Bytes noDelimiter = MakeFile("1.2.840.10008.1.2.1", w.bytes());
  const Bytes plain = SampleFile("1.2.840.10008.1.2.1", 1);
  DicomWriter cut(1);
  cut.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  cut.Header(0x0010, 0x4000, "LT", 5000).Raw(std::string(100, 'x'));
  const Bytes tooLong = MakeFile("1.2.840.10008.1.2.1", cut.bytes());
  const Bytes deflated = MakeFile("1.2.840.10008.1.2.1.99", Bytes{0x78, 0x9c, 0x03, 0x00});
  DicomWriter dir(1);
  dir.U16(0x0004, 0x1200, 0, "UL");
  const Bytes dicomdir = MakeFile("1.2.840.10008.1.2.1", dir.bytes(), true, "1.2.840.10008.1.3.10");
  enum Op { kEdit, kAdd, kDelete };
  struct {
    const char* name;
    const Bytes* file;
    Op op;
    TagChange change;
  } rows[] = {
      {"delete an element that is only inside a sequence", &noDelimiter, kDelete, Change(0x0008, 0x1150, "UI", "")},
      {"delete an element longer than the file", &tooLong, kDelete, Change(0x0010, 0x4000, "LT", "")},
      {"delete an absent element", &plain, kDelete, Change(0x0010, 0x4000, "LT", "")},
      {"delete without the sequence delimiter", &noDelimiter, kDelete, Change(0x0008, 0x1199, "SQ", "")},
      {"edit a sequence", &noDelimiter, kEdit, Change(0x0008, 0x1140, "SQ", "x")},
      {"add after the pixel data", &plain, kAdd, Change(0x7FE1, 0x0010, "LO", "x")},
      {"edit in a deflated file", &deflated, kEdit, Change(0x0010, 0x0010, "PN", "A")},
      {"delete in a deflated file", &deflated, kDelete, Change(0x0002, 0x0003, "UI", "")},
      {"delete in a DICOMDIR", &dicomdir, kDelete, Change(0x0004, 0x1200, "UL", "")},
      {"edit to the value it already has", &plain, kEdit, Change(0x0010, 0x0010, "PN", "YAMADA TAROU")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TagEditFixture fx;
    const std::string path = fx.tmp.File("b.dcm");
    WriteBytes(path, *r.file);
    TagWriteReport report;
    const bool ok = r.op == kEdit  ? EditElementInFile(path, r.change, fx.env, &report)
                    : r.op == kAdd ? AddElementToFile(path, r.change, fx.env, &report)
                                   : DeleteElementFromFile(path, r.change, fx.env, &report);
    const bool alreadySo = std::string(r.name) == "edit to the value it already has";
    EXPECT_EQ(ok, alreadySo);
    if (!ok) {
      EXPECT_FALSE(report.failure.empty());
      EXPECT_NE(fx.LogText().find(Utf8FromSjis(report.failure)), std::string::npos);
    }
    EXPECT_FALSE(report.changed);
    EXPECT_EQ(ReadBytes(path), *r.file);
    EXPECT_TRUE(FilesIn(fx.Backups()).empty());
    EXPECT_EQ(FilesIn(fx.tmp.path()).size(), 2u);  // the file and the installation, no temporary left
  }
}

TEST(TagWriters, MissingUnreadableAndEmptyFilesAreLoggedAndSkipped) {
  TagEditFixture fx;
  WriteBytes(fx.tmp.File("empty.dcm"), {});
  std::filesystem::create_directory(fx.tmp.File("folder.dcm"));
  const TagChange c = Change(0x0010, 0x0010, "PN", "X");
  struct {
    std::string path;
    const char* logged;
  } rows[] = {
      {fx.tmp.File("missing.dcm"), "）のステータス取得に失敗"},
      {fx.tmp.File("folder.dcm"), "）のアクセス権がありません"},
      {fx.tmp.File("empty.dcm"), "）のサイズが 0 です"},
  };
  for (const auto& r : rows) {
    TagWriteReport report;
    EXPECT_FALSE(EditElementInFile(r.path, c, fx.env, &report));
    EXPECT_NE(Utf8FromSjis(report.failure).find(r.logged), std::string::npos) << r.path;
    EXPECT_NE(fx.LogText().find(r.logged), std::string::npos) << r.path;
  }
  EXPECT_TRUE(FilesIn(fx.Backups()).empty());
}

TEST(TagWriters, BackupsNeverOverwriteEachOther) {
  TagEditFixture fx;
  auto* keep = g_tagEditTimeStamp;
  g_tagEditTimeStamp = [] { return std::string("20261207120000123"); };
  const std::string path = fx.tmp.File("CT.1.dcm");
  WriteBytes(path, SampleFile("1.2.840.10008.1.2.1", 1));
  std::vector<Bytes> versions;
  for (const char* name : {"A", "BB", "CCC"}) {
    versions.push_back(ReadBytes(path));
    ASSERT_TRUE(EditElementInFile(path, Change(0x0010, 0x0010, "PN", name), fx.env));
  }
  g_tagEditTimeStamp = keep;
  const std::vector<std::string> expected{"CT.1_Edit00100010_20261207120000123.dcm",
                                          "CT.1_Edit00100010_20261207120000123_1.dcm",
                                          "CT.1_Edit00100010_20261207120000123_2.dcm"};
  ASSERT_EQ(FilesIn(fx.Backups()), expected);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(ReadBytes(fx.Backups() + "/" + expected[i]), versions[i]);
}

TEST(TagWriters, LinksAreFollowedAndTheModeKept) {
  TagEditFixture fx;
  std::filesystem::create_directory(fx.tmp.File("real"));
  const std::string real = fx.tmp.File("real/IM1.dcm"), link = fx.tmp.File("IM1.dcm");
  WriteBytes(real, SampleFile("1.2.840.10008.1.2", 0));
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(EditElementInFile(link, Change(0x0010, 0x0010, "PN", "LINKED"), fx.env));
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const Bytes now = ReadBytes(real);
  EXPECT_NE(std::string(now.begin(), now.end()).find("LINKED"), std::string::npos);
  EXPECT_EQ(FilesIn(fx.tmp.File("real")), std::vector<std::string>{"IM1.dcm"});
}

// Every file of the public corpus: edit the patient name. A success must read back
// in DCMTK (when DCMTK read the original cleanly) and pydicom with the new name; a
// refusal must leave the file as it was.
TEST(TagWriters, PublicCorpusFilesStayReadable) {
  const std::string root = TestDataDir();
  if (root.empty()) GTEST_SKIP() << "public test data not found";
  const bool dcmdump = HaveDcmdump(), pydicom = HavePydicom();
  TagEditFixture fx;
  const TagChange change = Change(0x0010, 0x0010, "PN", "VELMO TEST");
  int edited = 0, refused = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.file_size() == 0 || e.file_size() > 8u << 20) continue;
    const std::string source = e.path().string();
    if (source.find("/dcmdump/") != std::string::npos || e.path().extension() == ".tsv" ||
        e.path().extension() == ".md" || e.path().extension() == ".txt")
      continue;
    std::string listing;
    if (!dcmdump || !DcmdumpParses(source, &listing)) continue;  // only files DCMTK reads cleanly
    SCOPED_TRACE(source);
    const std::string path = fx.tmp.File("corpus.dcm");
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    const Bytes before = ReadBytes(path);
    TagWriteReport report;
    if (!EditElementInFile(path, change, fx.env, &report)) {
      ++refused;
      std::printf("refused: %s: %s\n", source.c_str(), Utf8FromSjis(report.failure).c_str());
      EXPECT_EQ(ReadBytes(path), before);
      continue;
    }
    ++edited;
    EXPECT_TRUE(DcmdumpParses(path, &listing)) << listing;
    EXPECT_NE(listing.find("[VELMO^TEST]"), std::string::npos);
    if (pydicom) {
        EXPECT_TRUE(PydicomParses(path, &listing)) << listing;
      }
    std::filesystem::remove(report.backupPath);
  }
  std::printf("corpus: %d files edited, %d refused unchanged\n", edited, refused);
  EXPECT_GT(edited, 0);
}

}  // namespace
}  // namespace velmo::test
