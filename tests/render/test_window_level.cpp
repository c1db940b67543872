// Window/level drag rule and ranges, labels, the preset file (parse, write, read with
// its log lines and failures) and the preset list.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "dicom/load_context.h"
#include "dicom/view_load.h"
#include "render/window_level.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo {
namespace {

// The ranges FinishImageLoad gives an image with these bits and rescale values.
DicomImage Loaded(int bitsStored, int pixelRepresentation, float slope, int intercept, bool colour = false,
                  bool mono1 = false) {
  LoadContext ctx;
  ctx.records.assign(1, DicomImage{});
  ctx.viewIndex[1] = 0;
  DicomImage& im = ctx.records[0];
  im.bitsAllocated = 16;
  im.bitsStored = static_cast<uint16_t>(bitsStored);
  im.pixelRepresentation = pixelRepresentation;
  im.rescaleSlope = slope;
  im.rescaleIntercept = intercept;
  im.isColour = colour ? 1 : 0;
  im.isMonochrome1 = mono1 ? 1 : 0;
  im.fileWindowCenter[0] = 40;
  im.fileWindowWidth[0] = 400;
  EXPECT_TRUE(FinishImageLoad(ctx, 1));
  return ctx.records[0];
}

TEST(WindowLevel, RangesFromTheLoadedImage) {
  const DicomImage ct = Loaded(12, 0, 1.0f, -1024);
  EXPECT_EQ(LevelRange(ct).min, -1024);
  EXPECT_EQ(LevelRange(ct).max, 3072);
  EXPECT_EQ(WidthRange(ct).min, 2);
  EXPECT_EQ(WidthRange(ct).max, 4096);
  const DicomImage s16 = Loaded(16, 1, 1.0f, 0);
  EXPECT_EQ(LevelRange(s16).min, -32768);
  EXPECT_EQ(LevelRange(s16).max, 32767);
  const DicomImage rgb = Loaded(8, 0, 1.0f, 0, true);
  EXPECT_EQ(LevelRange(rgb).max, 1024);
  EXPECT_EQ(WidthRange(rgb).max, 1024);
}

TEST(WindowLevel, DragSignsByPhotometry) {
  const DicomImage grey = Loaded(12, 0, 1.0f, -1024);
  // 10 down and 20 right: the level rises by 10 and the width by 20.
  EXPECT_EQ(DragWindow(grey, 40, 400, 20, 10), (LevelWidth{50, 420}));
  EXPECT_EQ(DragWindow(grey, 40, 400, -20, -10), (LevelWidth{30, 380}));
  const DicomImage mono1 = Loaded(12, 0, 1.0f, -1024, false, true);
  EXPECT_EQ(DragWindow(mono1, 40, 400, 20, 10), (LevelWidth{30, 420}));
  const DicomImage rgb = Loaded(8, 0, 1.0f, 0, true);
  EXPECT_EQ(DragWindow(rgb, 500, 500, 20, 10), (LevelWidth{490, 480}));
}

TEST(WindowLevel, DragStopsAtTheRanges) {
  const DicomImage grey = Loaded(12, 0, 1.0f, -1024);
  EXPECT_EQ(DragWindow(grey, 3000, 4000, 500, 500), (LevelWidth{3072, 4096}));
  EXPECT_EQ(DragWindow(grey, -1000, 10, -500, -500), (LevelWidth{-1024, 2}));
  // Box values far outside the range (typed) come back inside at the first move.
  EXPECT_EQ(DragWindow(grey, INT32_MAX, INT32_MIN, 1000, 1000), (LevelWidth{3072, 2}));
  EXPECT_EQ(DragWindow(grey, INT32_MIN, INT32_MAX, -1000, -1000), (LevelWidth{-1024, 4096}));
}

TEST(WindowLevel, BoxTextsAndLabels) {
  EXPECT_EQ(WindowBoxValue("  -600abc"), -600);
  EXPECT_EQ(WindowBoxValue(""), 0);
  EXPECT_EQ(WindowBoxValue("99999999999"), INT32_MAX);
  EXPECT_EQ(WindowBoxText(-1024), "-1024");
  DicomImage grey, rgb;
  rgb.isColour = 1;
  EXPECT_EQ(LevelLabel(&grey), "Level");
  EXPECT_EQ(WidthLabel(nullptr), "Width");
  EXPECT_EQ(LevelLabel(&rgb), SJ("明度"));
  EXPECT_EQ(WidthLabel(&rgb), SJ("彩度"));
}

TEST(WindowLevelPresets, ParseKeepsShiftJisNamesWhole) {
  // 脳 is 94 5D and 表 is 95 5C: trail bytes that look like ASCII brackets and
  // backslashes must stay inside the name.
  const std::string text = SJ("脳,40,80") + "\r\n" + SJ("表示,1,2,extra") + "\r\n\r\nonly-name\nx,5\r\ny,-3,7";
  const std::vector<PresetRow> rows = ParsePresetRows(text);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], (PresetRow{SJ("脳"), "40", "80"}));
  EXPECT_EQ(rows[1], (PresetRow{SJ("表示"), "1", "2"}));
  EXPECT_EQ(rows[2], (PresetRow{"only-name", "", ""}));
  EXPECT_EQ(rows[3], (PresetRow{"x", "5", ""}));
  EXPECT_EQ(rows[4], (PresetRow{"y", "-3", "7"}));  // last line without an end
  EXPECT_TRUE(ParsePresetRows("").empty());

  const std::string back = SerializePresetRows({rows[0], rows[4]});
  EXPECT_EQ(back, SJ("脳,40,80") + "\r\ny,-3,7\r\n");
  EXPECT_EQ(ParsePresetRows(back), (std::vector<PresetRow>{rows[0], rows[4]}));
}

TEST(WindowLevelPresets, TableHoldsThirtyAndCutsNamesAtCharacters) {
  std::vector<PresetRow> rows;
  for (int i = 0; i < 35; ++i) rows.push_back({std::string("p").append(std::to_string(i)), std::to_string(i), " 7x"});
  // 62 ASCII bytes then a double-byte character: the character does not fit in 63.
  rows[1].name = std::string(62, 'a') + SJ("脳");
  const std::vector<Preset> presets = PresetsFromRows(rows);
  ASSERT_EQ(presets.size(), 30u);
  EXPECT_EQ(presets[29].name, std::string_view("p29"));
  EXPECT_EQ(presets[5].level, 5);
  EXPECT_EQ(presets[5].width, 7);
  EXPECT_EQ(presets[1].name.view(), std::string(62, 'a'));
  rows[2].name = std::string(61, 'b') + SJ("脳");
  EXPECT_EQ(PresetsFromRows(rows)[2].name.view(), std::string(61, 'b') + SJ("脳"));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PresetFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeInstallation(dir.path(), "[詳細]\nLogLevel=2\n");
    RotateLogs(dir.path() + "/");
    log = std::make_unique<Log>(dir.path() + "/");
    path = dir.path() + "/Config/Preset.csv";
    unlink(path.c_str());
  }
  test::TempDir dir;
  std::unique_ptr<Log> log;
  std::string path;
  test::RecordingNotifier notifier;
};

TEST_F(PresetFileTest, MissingFileIsCreatedEmptyThenWrittenAndReadBack) {
  std::vector<PresetRow> rows{{"x", "1", "2"}};
  EXPECT_EQ(ReadPresetFile(path, &rows, *log, &notifier, true), PresetFileStatus::kCreated);
  EXPECT_TRUE(rows.empty());
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);

  const std::vector<PresetRow> written{{SJ("脳"), "40", "80"}, {"abc", "-x", ""}};
  ASSERT_TRUE(WritePresetFile(path, written, *log));
  EXPECT_EQ(ReadAll(path), SJ("脳,40,80") + "\r\nabc,-x,\r\n");
  EXPECT_EQ(ReadPresetFile(path, &rows, *log, &notifier, true), PresetFileStatus::kRead);
  EXPECT_EQ(rows, written);
  // No temporary file is left behind.
  std::string names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() + "/Config"))
    names += e.path().filename().string() + " ";
  EXPECT_EQ(names.find(".Preset.csv"), std::string::npos) << names;

  const std::string logText = ReadAll(log->path());
  EXPECT_NE(logText.find(Format(SJ("設定ファイル(%s)を新たに作成しました"), path)), std::string::npos);
  EXPECT_NE(logText.find(Format(SJ("設定ファイル(%s)へ書き込み"), path)), std::string::npos);
  EXPECT_NE(logText.find(SJ("設定ファイル(Preset.csv)の読み出し")), std::string::npos);
  EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(PresetFileTest, UnreadableFileGivesNoPresetsAndIsKept) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);  // a folder where the file should be
  std::vector<PresetRow> rows{{"x", "1", "2"}};
  EXPECT_EQ(ReadPresetFile(path, &rows, *log, &notifier, false), PresetFileStatus::kOpenFailed);
  EXPECT_TRUE(rows.empty());
  EXPECT_NE(ReadAll(log->path()).find(SJ("設定ファイル(Preset.csv)のオープンに失敗しました")), std::string::npos);
  // Writing cannot replace a folder: reported as a failure, nothing logged as written.
  EXPECT_FALSE(WritePresetFile(path, {{"a", "1", "2"}}, *log));
  EXPECT_EQ(ReadAll(log->path()).find(SJ("へ書き込み")), std::string::npos);
}

// An existing Preset.csv that cannot be read keeps its presets: the dialog's rows were
// not read from it. A Config folder where the file cannot be created logs and shows
// the write failure instead of reporting a creation.
TEST_F(PresetFileTest, UnreadableOrUncreatableFileIsReportedAndKept) {
  test::WriteText(path, "keep,1,2\r\n");
  test::OpenToEveryone(dir.path());
  chmod(path.c_str(), 0200);
  const std::string config = dir.path() + "/Config";
  const std::string other = config + "/Other.csv";
  chmod(config.c_str(), 0555);  // and Other.csv cannot be created there
  const int result = test::RunUnprivileged([&] {
    if (access(path.c_str(), R_OK) == 0) return 100;
    if (WritePresetFile(path, {{"new", "3", "4"}}, *log)) return 1;
    test::RecordingNotifier shown;
    std::vector<PresetRow> rows;
    const PresetFileStatus status = ReadPresetFile(other, &rows, *log, &shown, true);
    if (status != PresetFileStatus::kCreateFailed) return 2;
    const std::string msg = Format(SJ("設定ファイル(%s)への書き込みに失敗しました"), other);
    if (shown.entries.size() != 1 || shown.entries[0].message != msg || shown.entries[0].caption != SJ("エラー"))
      return 3;
    return 0;
  });
  chmod(config.c_str(), 0777);
  chmod(path.c_str(), 0644);
  EXPECT_EQ(result, 0) << "100: readable, 1: replaced, 2: status, 3: message";
  EXPECT_EQ(ReadAll(path), "keep,1,2\r\n");
  const std::string logText = ReadAll(log->path());
  EXPECT_EQ(logText.find(SJ("を新たに作成しました")), std::string::npos);
  EXPECT_NE(logText.find(SJ("異常") + "," + Format(SJ("設定ファイル(%s)への書き込みに失敗しました"), other)),
            std::string::npos);
}

TEST_F(PresetFileTest, ShippedFileIsShiftJisWithCrLf) {
  const std::string shipped = std::string(VELMO_BIN_DIR) + "/Config/Preset.csv";
  struct stat st {};
  if (stat(shipped.c_str(), &st) != 0) GTEST_SKIP() << "no staged " << shipped;
  std::vector<PresetRow> rows;
  ASSERT_EQ(ReadPresetFile(shipped, &rows, Log::Null(), &notifier, true), PresetFileStatus::kRead);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[3], (PresetRow{SJ("脳"), "40", "80"}));
  EXPECT_EQ(rows[0], (PresetRow{SJ("肺野"), "-600", "1500"}));
  EXPECT_EQ(SerializePresetRows(rows), ReadAll(shipped));
}

TEST(WindowLevelPresets, ListEntriesAndTheirWindows) {
  DicomImage im;
  im.fileWindowCenter[0] = 40, im.fileWindowWidth[0] = 400;
  im.fileWindowCenter[1] = 300, im.fileWindowWidth[1] = 0;  // not listed
  im.fileWindowCenter[2] = -600, im.fileWindowWidth[2] = 1500;
  const std::vector<Preset> presets = PresetsFromRows({{SJ("肺野"), "-600", "1500"}, {"bone", "400", "1800"}});
  std::vector<PresetListItem> items = BuildPresetList(&im, presets);
  std::vector<std::string> texts;
  for (const auto& i : items) texts.push_back(i.text);
  EXPECT_EQ(texts, (std::vector<std::string>{SJ("初期値 1"), SJ("初期値 3"), SJ("肺野"), "bone", SJ("　設定する")}));
  LevelWidth w;
  ASSERT_TRUE(WindowOfPresetItem(im, items[1], presets, &w));
  EXPECT_EQ(w, (LevelWidth{-600, 1500}));
  ASSERT_TRUE(WindowOfPresetItem(im, items[3], presets, &w));
  EXPECT_EQ(w, (LevelWidth{400, 1800}));
  EXPECT_FALSE(WindowOfPresetItem(im, items[4], presets, &w));

  // One window value only: "初期値 1" alone before the presets; no image: no initial entries.
  im.fileWindowWidth[2] = 0;
  EXPECT_EQ(BuildPresetList(&im, presets).size(), 4u);
  EXPECT_EQ(BuildPresetList(nullptr, presets).front().text, SJ("肺野"));
}

}  // namespace
}  // namespace velmo
