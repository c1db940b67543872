// Attribute extraction: texts, numbers, flags, byte orders and the load's bookkeeping.
#include <cfloat>
#include <climits>
#include <fstream>

#include "dicom/person_name.h"
#include "base/log.h"
#include "base/text.h"
#include "test_extract_support.h"

namespace velmo::test {
namespace {

class ExtractSyntaxTest : public ExtractFixture, public ::testing::WithParamInterface<int> {};

// The same attributes come out of implicit, explicit little and explicit big endian
// files; numbers of binary elements follow the stream's byte order.
TEST_P(ExtractSyntaxTest, ReadsEveryKindOfAttribute) {
  const int syntax = GetParam();
  ImageShape shape;
  shape.rows = 3;
  shape.columns = 258;  // 0x0102: a swapped byte order would show as 0x0201
  shape.bits = 16;
  ASSERT_TRUE(LoadDataset(syntax, [&](DicomWriter& w) {
    w.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL");
    w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2");
    w.Text(0x0008, 0x0020, "DA", "20240102");
    w.Text(0x0008, 0x0060, "CS", "CT");
    w.Text(0x0008, 0x1010, "SH", "STATION-NAME-LONGER-THAN-16");
    w.Text(0x0010, 0x0020, "LO", "PID-001");
    w.Text(0x0010, 0x0040, "CS", "F");
    w.Text(0x0018, 0x0050, "DS", "2.5");
    w.Text(0x0018, 0x1030, "LO", "HEAD^ROUTINE");
    w.Text(0x0018, 0x1063, "DS", "33.3");
    w.Text(0x0020, 0x0011, "IS", "7");
    w.Text(0x0020, 0x0020, "CS", "L\\P\\X");
    w.Text(0x0020, 0x0032, "DS", "-125.5\\-130\\42.25");
    w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
    w.Text(0x0020, 0x1041, "DS", "-12.5");
    w.U16(0x0028, 0x0006, 1);
    w.Text(0x0028, 0x0008, "IS", "1");
    w.Text(0x0028, 0x0030, "DS", "0.5\\0.25");
    w.U16(0x0028, 0x0103, 1);
    w.Text(0x0028, 0x1050, "DS", "40.7\\400");
    w.Text(0x0028, 0x1051, "DS", "350.9\\-10.2\\1e30");
    w.Text(0x0028, 0x1052, "DS", "-1024.5");
    w.Text(0x0028, 0x1053, "DS", "2");
  }, shape));
  const DicomImage& r = im();
  EXPECT_EQ(r.loaded, 1);
  EXPECT_EQ(r.extracted, 1);
  EXPECT_TRUE(ctx.panes[1].loaded);
  EXPECT_TRUE(ctx.fileBuffer.empty());

  EXPECT_EQ(r.imageTypeText.view(), "ORIGINAL\\PRIMARY\\AXIAL");
  EXPECT_EQ(r.imageTypeValues[0].view(), "ORIGINAL");
  EXPECT_EQ(r.imageTypeValues[2].view(), "AXIAL");
  EXPECT_TRUE(r.imageTypeValues[3].empty());
  EXPECT_EQ(r.sopClassUid.str(), std::string("1.2.840.10008.5.1.4.1.1.2\0", 26).c_str());
  EXPECT_EQ(r.studyDate.view(), "20240102");
  EXPECT_EQ(r.modality.view(), "CT");
  EXPECT_EQ(r.stationName.view(), "STATION-NAME-LON");  // cut to its 16 bytes
  EXPECT_EQ(r.patientId.view(), "PID-001 ");
  EXPECT_EQ(r.sexText.view(), SJ("女"));
  EXPECT_EQ(r.hasSliceThickness, 1);
  EXPECT_DOUBLE_EQ(r.sliceThickness, 2.5);
  EXPECT_EQ(r.protocolName.view(), "HEAD ROUTINE");
  EXPECT_DOUBLE_EQ(r.frameTime, 33.3);
  EXPECT_EQ(r.seriesNumber.view(), "7 ");
  EXPECT_EQ(r.patientOrientation[0].view(), "L");
  EXPECT_EQ(r.patientOrientation[1].view(), "P");
  EXPECT_FLOAT_EQ(r.imagePosition[0], -125.5f);
  EXPECT_FLOAT_EQ(r.imagePosition[2], 42.25f);
  EXPECT_FLOAT_EQ(r.imageOrientation[4], 1.0f);
  EXPECT_EQ(r.hasSliceLocation, 1);
  EXPECT_FLOAT_EQ(r.sliceLocation, -12.5f);
  EXPECT_FLOAT_EQ(r.pixelSpacing[0], 0.5f);
  EXPECT_FLOAT_EQ(r.pixelSpacing[1], 0.25f);
  EXPECT_EQ(r.frameCount, 1);

  EXPECT_EQ(r.rows, 3);
  EXPECT_EQ(r.columns, 258);
  EXPECT_EQ(r.bitsAllocated, 16);
  EXPECT_EQ(r.bitsStored, 16);
  EXPECT_EQ(r.pixelRepresentation, 1);
  EXPECT_EQ(r.planarConfiguration, 1);
  EXPECT_EQ(r.pixelDataLength, 3u * 258u * 2u);

  // Truncated toward zero; an out-of-range value saturates.
  EXPECT_EQ(r.fileWindowCenter[0], 40);
  EXPECT_EQ(r.fileWindowCenter[1], 400);
  EXPECT_EQ(r.fileWindowCenter[2], 0);
  EXPECT_EQ(r.fileWindowWidth[0], 350);
  EXPECT_EQ(r.fileWindowWidth[1], -10);
  EXPECT_EQ(r.fileWindowWidth[2], INT32_MAX);
  EXPECT_EQ(r.rescaleIntercept, -1024);
  EXPECT_FLOAT_EQ(r.rescaleSlope, 2.0f);
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, ExtractSyntaxTest, ::testing::Values(0, 1, 2));

TEST_F(ExtractFixture, AbsentElementsKeepTheirClearedValues) {
  ASSERT_TRUE(LoadDataset(1, nullptr));
  const DicomImage& r = im();
  EXPECT_EQ(r.characterSets[0].view(), "ISO 2022 IR 6");
  EXPECT_TRUE(r.characterSets[1].empty());
  EXPECT_TRUE(r.modality.empty());
  EXPECT_TRUE(r.patientNameDisplay.empty());
  EXPECT_TRUE(r.sexText.empty());
  EXPECT_EQ(r.hasSliceThickness, 0);
  EXPECT_EQ(r.hasSliceLocation, 0);
  EXPECT_FLOAT_EQ(r.rescaleSlope, 1.0f);
  EXPECT_EQ(r.rescaleIntercept, 0);
  EXPECT_EQ(r.fileWindowCenter[1], 0);  // the first values get the default window
  EXPECT_EQ(r.pixelRepresentation, 0);
  EXPECT_EQ(r.hasPalette, 0);
  EXPECT_EQ(r.hasVoiLut, 0);
  EXPECT_TRUE(r.paletteRed.empty());
}

// A second extraction of the same record does not keep values of the first file.
TEST_F(ExtractFixture, ReloadingStartsFromClearedAttributes) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0060, "CS", "MR");
    w.Text(0x0018, 0x0050, "DS", "3");
    w.Text(0x0028, 0x1053, "DS", "4");
  }));
  ASSERT_TRUE(Load(MakeFile(TransferSyntaxOf(1), ImageDataset(1, nullptr)), "/mem/second.dcm"));
  EXPECT_TRUE(im().modality.empty());
  EXPECT_EQ(im().hasSliceThickness, 0);
  EXPECT_FLOAT_EQ(im().rescaleSlope, 1.0f);
}

// An empty Rescale Slope is taken as absent; a slope of 0 would flatten the image.
TEST_F(ExtractFixture, EmptyRescaleSlopeCountsAsAbsent) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) { w.Text(0x0028, 0x1053, "DS", ""); }));
  EXPECT_FLOAT_EQ(im().rescaleSlope, 1.0f);
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) { w.Text(0x0028, 0x1053, "DS", "  "); }));
  EXPECT_FLOAT_EQ(im().rescaleSlope, 1.0f);
}

// A failed pixel stage leaves the slot unloaded, frees the file buffer and keeps
// the attributes of the extraction out of the slot.
TEST_F(ExtractFixture, FailureLeavesTheSlotUnloaded) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) { w.Text(0x0008, 0x0060, "CS", "CT"); }));
  ASSERT_EQ(im().loaded, 1);
  ImageShape noRows;
  noRows.rows = 0;
  const Bytes file = MakeFile(TransferSyntaxOf(1), ImageDataset(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0060, "CS", "MR");
  }, noRows));
  files.Add("/mem/image.dcm", file);
  ctx.records[0].filePath = "/mem/image.dcm";
  ASSERT_TRUE(ReadDicomFile(ctx, "/mem/image.dcm", 1, true));
  EXPECT_FALSE(ExtractImageAttributes(ctx, 1));
  EXPECT_EQ(im().loaded, 0);
  EXPECT_EQ(im().extracted, 0);
  EXPECT_FALSE(ctx.panes[1].loaded);
  EXPECT_TRUE(ctx.fileBuffer.empty());
  EXPECT_EQ(im().modality.view(), "CT");
}

TEST_F(ExtractFixture, PhotometricFlags) {
  struct Case { const char* value; int mono1, colour, samples; };
  const Case cases[] = {{"MONOCHROME1", 1, 0, 1},      {"MONOCHROME2", 0, 0, 1},     {"RGB", 0, 1, 3},
                        {"YBR_FULL", 0, 1, 3},         {"YBR_FULL_422", 0, 1, 3},    {"YBR_PARTIAL_422", 0, 0, 1},
                        {"YBR_RCT", 0, 1, 3},          {"YBR_ICT", 0, 1, 3},         {"PALETTE COLOR", 0, 1, 3}};
  for (const Case& c : cases) {
    ImageShape shape;
    shape.photometric = c.value;
    shape.samples = c.samples;
    ASSERT_TRUE(LoadDataset(1, nullptr, shape)) << c.value;
    EXPECT_EQ(im().isMonochrome1, c.mono1) << c.value;
    EXPECT_EQ(im().isColour, c.colour) << c.value;
  }
}

TEST_F(ExtractFixture, PixelSpacingFallsBackToImagerSpacing) {
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0018, 0x1164, "DS", "0.2\\0.2");
    w.Text(0x0028, 0x0030, "DS", "0\\0");
  }));
  EXPECT_FLOAT_EQ(im().pixelSpacing[0], 0.2f);
  EXPECT_FLOAT_EQ(im().pixelSpacing[1], 0.2f);
}

// The ultrasound deltas stand inside the region sequence and are 8-byte values in
// the stream's byte order; without other spacing they give millimetres.
TEST_P(ExtractSyntaxTest, PixelSpacingFallsBackToUltrasoundDeltas) {
  const int syntax = GetParam();
  ASSERT_TRUE(LoadDataset(syntax, [](DicomWriter& w) {
    w.BeginSequence(0x0018, 0x6011, true);
    w.BeginItem(false);
    w.F64(0x0018, 0x602C, 0.05);
    w.F64(0x0018, 0x602E, 0.04);
    w.EndItem();
    w.EndSequence();
  }));
  EXPECT_DOUBLE_EQ(im().physicalDeltaX, 0.05);
  EXPECT_DOUBLE_EQ(im().physicalDeltaY, 0.04);
  EXPECT_FLOAT_EQ(im().pixelSpacing[0], 0.4f);  // row spacing: vertical delta
  EXPECT_FLOAT_EQ(im().pixelSpacing[1], 0.5f);
}

TEST_F(ExtractFixture, NumbersIgnoreTheUserLocale) {
  if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma (de_DE.UTF-8) available";
  const bool ok = LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0018, 0x0050, "DS", "2.5");
    w.Text(0x0028, 0x1050, "DS", "40.7");
  });
  RestoreCLocale();
  ASSERT_TRUE(ok);
  EXPECT_DOUBLE_EQ(im().sliceThickness, 2.5);
  EXPECT_EQ(im().fileWindowCenter[0], 40);
}

TEST_F(ExtractFixture, WritesItsLogLinesAtTheirLevels) {
  TempDir dir;
  MakeInstallation(dir.path(), "[詳細]\nLogLevel=2\n");
  RotateLogs(dir.path() + "/");
  Log log(dir.path() + "/");
  ctx.log = &log;
  ASSERT_TRUE(LoadDataset(1, [](DicomWriter& w) {
    w.Text(0x0008, 0x0060, "CS", "CT");
    w.Text(0x0010, 0x0020, "LO", "P1");
  }));
  const std::vector<uint8_t> bytes = ReadBytes(LogFilePath(dir.path() + "/", 1));
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find(SJ("特定文字集合(0008,0005)が無いデータです")), std::string::npos);
  EXPECT_NE(text.find(SJ("モダリティ(0008,0060)の解析を終了。モダリティ=CT")), std::string::npos);
  EXPECT_NE(text.find(SJ("患者ID(0010,0020)の解析を終了。ID = P1")), std::string::npos);
  EXPECT_NE(text.find(SJ("光度測定解釈(0028,0004)の解析を終了。MONOCHROME2")), std::string::npos);
  EXPECT_NE(text.find(SJ("DICOMヘッダから使用するTagのデータ抽出完了")), std::string::npos);
  // Level 3 lines stay out of a level 2 log.
  EXPECT_EQ(text.find(SJ("表示する画像データの読み込みフラグをOFF")), std::string::npos);
  EXPECT_EQ(text.find(SJ("読み込んだファイルデータを解放する")), std::string::npos);
  ctx.log = &Log::Null();
}

}  // namespace
}  // namespace velmo::test
