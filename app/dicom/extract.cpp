// Attribute extraction: fills the DicomImage of a view position from the header of
// the file that ReadDicomFile has just read whole, then runs the pixel stage.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

#include "dicom/element.h"
#include "dicom/person_name.h"
#include "dicom/pixel_stage.h"
#include "dicom/view_load.h"
#include "base/charset.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

// True for a value that holds nothing but spaces and NUL padding.
bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\0') return false;
  }
  return true;
}

// Palette tables always hold 65,536 entries: stores and lookups index them with
// unsigned 16-bit values, so neither a signed first mapped value nor a signed or
// 16-bit stored pixel value can reach outside them.
constexpr size_t kPaletteTableSize = 65536;

// The data set part of the header: from the end of the meta group to the first
// pixel data byte. Every element value read during extraction lies inside it.
struct Region {
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  int syntax = 0;
  bool big() const { return syntax == kExplicitBig; }
  ElementView Find(uint16_t group, uint16_t element, int mode = 0) const {
    return FindElement(begin, end, syntax, mode, group, element);
  }
  // The value of a top-level element as text ("" when absent).
  std::string_view Text(uint16_t group, uint16_t element) const {
    const ElementView e = Find(group, element);
    return e.found() ? e.text() : std::string_view();
  }
};

// double -> float that saturates instead of leaving the float range.
float ToFloat(double v) {
  if (std::isnan(v)) return 0.0f;
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(v);
}

// Decimal-string values of an element into floats; absent or missing values stay.
void ReadDecimals(const Region& r, uint16_t group, uint16_t element, float* out, int count) {
  const ElementView e = r.Find(group, element);
  if (!e.found()) return;
  std::string_view values[6];
  const int n = SplitBackslashValues(e.text(), values, count);
  for (int i = 0; i < n; ++i) out[i] = ToFloat(ParseDouble(values[i]));
}

// An unsigned short element (a 4-byte value is read as 32 bits), in the stream's order.
uint32_t ReadUnsigned(const Region& r, uint16_t group, uint16_t element) {
  const ElementView e = r.Find(group, element);
  if (!e.found()) return 0;
  if (e.length == 4 && e.available >= 4) return Get32(e.value, r.big());
  if (e.available >= 2) return Get16(e.value, r.big());
  return 0;
}

// An 8-byte IEEE value (FD) in the stream's byte order, searched at any depth.
double ReadDouble(const Region& r, uint16_t group, uint16_t element) {
  const ElementView e = r.Find(group, element, 1);
  if (!e.found() || e.available < 8) return 0;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    const int shift = r.big() ? (7 - i) * 8 : i * 8;
    bits |= static_cast<uint64_t>(e.value[i]) << shift;
  }
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

template <size_t N>
void CopyText(const Region& r, uint16_t group, uint16_t element, FixedText<N>& field) {
  field.Assign(r.Text(group, element));
}

void ReportAllocationFailure(LoadContext& ctx, const std::string& message) {
  ctx.Fail(message, kLogWarning, 1);
  ctx.Show(SJ("警告"), message, NoticeIcon::Warning);
}

// Expands segmented palette data (16-bit words) into table slots 0 .. limit-1.
// Discrete segments copy their words, linear segments interpolate from the last
// value written (0 before the first write) to their end value, indirect segments
// and unknown opcodes write nothing. Every segment advances past its opcode, reads
// stop at the end of the value and writes at the end of the table.
void ExpandSegmentedPalette(const uint8_t* value, uint32_t bytes, bool big, uint16_t* table, uint32_t limit) {
  const uint32_t words = bytes / 2;
  auto word = [&](uint32_t i) { return Get16(value + 2 * static_cast<size_t>(i), big); };
  uint32_t pos = 0;
  uint32_t slot = 0;
  uint32_t last = 0;
  while (pos < words && slot < limit) {
    const uint16_t opcode = word(pos);
    if (opcode == 0) {
      if (pos + 1 >= words) break;
      const uint32_t count = word(pos + 1);
      pos += 2;
      for (uint32_t i = 0; i < count && pos < words && slot < limit; ++i, ++pos) {
        last = word(pos);
        table[slot++] = static_cast<uint16_t>(last);
      }
    } else if (opcode == 1) {
      if (pos + 2 >= words) break;
      const uint32_t length = word(pos + 1);
      const uint32_t y1 = word(pos + 2);
      pos += 3;
      const uint32_t y0 = last;
      for (uint32_t i = 1; i <= length && slot < limit; ++i) {
        last = y1 >= y0 ? y0 + (y1 - y0) * i / length : y0 - (y0 - y1) * i / length;
        table[slot++] = static_cast<uint16_t>(last);
      }
    } else if (opcode == 2) {
      pos += 2;  // indirect segments are not expanded
    } else {
      pos += 1;
    }
  }
}

// Reads one palette colour (0 red, 1 green, 2 blue): descriptor, then plain data or,
// when that is absent, segmented data. False when its table cannot be allocated.
bool ReadPaletteColour(LoadContext& ctx, const Region& r, DicomImage& im, int colour) {
  std::vector<uint16_t>& table = colour == 0 ? im.paletteRed : colour == 1 ? im.paletteGreen : im.paletteBlue;
  int32_t* descriptor = im.paletteDescriptor[colour];
  descriptor[0] = descriptor[1] = descriptor[2] = 0;
  std::vector<uint16_t>().swap(table);

  const uint16_t offset = static_cast<uint16_t>(colour);
  const ElementView d = r.Find(0x0028, static_cast<uint16_t>(0x1101 + offset), 1);
  if (!d.found() || d.available < 6) return true;  // no usable descriptor: no table
  const bool big = r.big();
  const uint32_t stored = Get16(d.value, big);
  const uint32_t entries = stored == 0 ? 65536 : stored;
  const int16_t firstMapped = static_cast<int16_t>(Get16(d.value + 2, big));
  const uint16_t bits = Get16(d.value + 4, big);
  descriptor[0] = static_cast<int32_t>(entries);
  descriptor[1] = firstMapped;
  descriptor[2] = bits;

  try {
    table.assign(kPaletteTableSize, 0);
  } catch (const std::bad_alloc&) {
    static const char* const kMessages[3] = {
        "赤パレットカラーテーブル用のメモリ確保に失敗しました。(%d)メモリ不足の可能性があります。",
        "緑パレットカラーテーブル用のメモリ確保に失敗しました。(%d)メモリ不足の可能性があります。",
        "青パレットカラーテーブル用のメモリ確保に失敗しました。(%d)メモリ不足の可能性があります。"};
    ReportAllocationFailure(ctx, Format(SjisFromUtf8(kMessages[colour]), static_cast<long long>(entries)));
    return false;
  }

  // Plain data fills slots first-mapped-value onward, taken modulo 65,536.
  auto copyBytes = [&](const ElementView& e) {
    const uint32_t n = e.available < entries ? e.available : entries;
    for (uint32_t i = 0; i < n; ++i) table[static_cast<uint16_t>(firstMapped + static_cast<int32_t>(i))] = e.value[i];
  };
  const ElementView data = r.Find(0x0028, static_cast<uint16_t>(0x1201 + offset), 1);
  if (data.found()) {
    if (bits == 8) {
      copyBytes(data);
    } else {
      const uint32_t words = data.available / 2;
      const uint32_t n = words < entries ? words : entries;
      for (uint32_t i = 0; i < n; ++i) {
        table[static_cast<uint16_t>(firstMapped + static_cast<int32_t>(i))] = Get16(data.value + 2 * size_t{i}, big);
      }
    }
    return true;
  }
  const ElementView segmented = r.Find(0x0028, static_cast<uint16_t>(0x1221 + offset), 1);
  if (segmented.found()) {
    if (bits == 8) copyBytes(segmented);
    else ExpandSegmentedPalette(segmented.value, segmented.available, big, table.data(), entries);
  }
  return true;
}

// The first LUT Descriptor / LUT Data pair of the data set. False when the table
// cannot be allocated.
bool ReadLookupTable(LoadContext& ctx, const Region& r, DicomImage& im) {
  im.hasVoiLut = 0;
  im.voiLutEntries = im.voiLutFirstMapped = im.voiLutBits = 0;
  std::vector<uint16_t>().swap(im.voiLutData);
  const ElementView d = r.Find(0x0028, 0x3002, 1);
  if (!d.found() || d.available < 6) return true;
  const bool big = r.big();
  const uint32_t entries = Get16(d.value, big);
  im.voiLutEntries = static_cast<int32_t>(entries);
  im.voiLutFirstMapped = Get16(d.value + 2, big);
  im.voiLutBits = Get16(d.value + 4, big);
  try {
    im.voiLutData.assign(entries, 0);
  } catch (const std::bad_alloc&) {
    ReportAllocationFailure(
        ctx, Format(SJ("LUTデータ用のメモリ確保に失敗しました。(%d)メモリ不足の可能性があります。"), static_cast<long long>(entries)));
    return false;
  }
  const ElementView data = r.Find(0x0028, 0x3006, 1);
  if (!data.found()) return true;
  const uint32_t words = data.available / 2;
  const uint32_t n = words < entries ? words : entries;
  for (uint32_t i = 0; i < n; ++i) im.voiLutData[i] = Get16(data.value + 2 * size_t{i}, big);
  im.hasVoiLut = 1;
  return true;
}

// Steps 2 to 17: every attribute of the record from the header region.
bool ExtractAttributes(LoadContext& ctx, const Region& r, DicomImage& im) {
  // Specific Character Set.
  ctx.Write(SJ("特定文字集合(0008,0005)の解析を開始"), kLogNormal, 2);
  std::string characterSet;  // the whole value: the text conversions below follow it
  {
    std::string_view sets[5];
    const ElementView e = r.Find(0x0008, 0x0005);
    if (e.found()) characterSet.assign(e.text());
    if (!e.found()) ctx.Write(SJ("特定文字集合(0008,0005)が無いデータです"), kLogNormal, 2);
    CharacterSetValues(e.found() ? e.text() : std::string_view(), sets);
    for (int i = 0; i < 5; ++i) im.characterSets[i].Assign(sets[i]);
    const std::string_view firstThree[3] = {im.characterSets[0].view(), im.characterSets[1].view(),
                                            im.characterSets[2].view()};
    FindNameGroupIndices(firstThree, ctx.nameKeywords, im.nameGroupIndex);
    for (int i = 0; i < 3; ++i) ctx.namePriority[i] = im.nameGroupIndex[i];
  }
  ctx.Write(SJ("特定文字集合(0008,0005)の解析を終了"), kLogNormal, 2);

  // Image Type and Patient Orientation.
  {
    const std::string_view imageType = r.Text(0x0008, 0x0008);
    im.imageTypeText.Assign(imageType);
    std::string_view values[5];
    SplitBackslashValues(imageType, values, 5, 16);
    for (int i = 0; i < 5; ++i) im.imageTypeValues[i].Assign(values[i]);
    std::string_view orientation[2];
    SplitBackslashValues(r.Text(0x0020, 0x0020), orientation, 2, 16);
    for (int i = 0; i < 2; ++i) im.patientOrientation[i].Assign(orientation[i]);
  }

  // Plain text elements.
  CopyText(r, 0x0008, 0x0016, im.sopClassUid);
  CopyText(r, 0x0008, 0x0018, im.sopInstanceUid);
  CopyText(r, 0x0008, 0x0020, im.studyDate);
  CopyText(r, 0x0008, 0x0030, im.studyTime);
  CopyText(r, 0x0008, 0x0031, im.seriesTime);
  CopyText(r, 0x0008, 0x0033, im.contentTime);
  CopyText(r, 0x0008, 0x0050, im.accessionNumber);
  ctx.Write(SJ("モダリティ(0008,0060)の解析を開始"), kLogNormal, 2);
  CopyText(r, 0x0008, 0x0060, im.modality);
  ctx.Write(Format(SJ("モダリティ(0008,0060)の解析を終了。モダリティ=%s"), im.modality.view()), kLogNormal, 2);
  CopyText(r, 0x0008, 0x0070, im.manufacturer);
  CopyText(r, 0x0008, 0x0080, im.institutionName);
  CopyText(r, 0x0008, 0x1010, im.stationName);
  CopyText(r, 0x0008, 0x1090, im.modelName);
  ctx.Write(SJ("患者ID(0010,0020)の解析を開始"), kLogNormal, 2);
  CopyText(r, 0x0010, 0x0020, im.patientId);
  ctx.Write(Format(SJ("患者ID(0010,0020)の解析を終了。ID = %s"), im.patientId.view()), kLogNormal, 2);
  CopyText(r, 0x0010, 0x0030, im.birthDate);
  CopyText(r, 0x0010, 0x0040, im.sex);
  CopyText(r, 0x0018, 0x0015, im.bodyPart);
  CopyText(r, 0x0018, 0x1210, im.convolutionKernel);
  CopyText(r, 0x0018, 0x1250, im.receiveCoil);
  CopyText(r, 0x0020, 0x000D, im.studyInstanceUid);
  CopyText(r, 0x0020, 0x000E, im.seriesInstanceUid);
  CopyText(r, 0x0020, 0x0011, im.seriesNumber);
  CopyText(r, 0x0020, 0x0013, im.instanceNumber);
  CopyText(r, 0x0020, 0x0052, im.frameOfReferenceUid);
  ctx.Write(SJ("光度測定解釈(0028,0004)の解析を開始"), kLogNormal, 2);
  CopyText(r, 0x0028, 0x0004, im.photometric);
  ctx.Write(Format(SJ("光度測定解釈(0028,0004)の解析を終了。%s"), im.photometric.view()), kLogNormal, 2);

  // Patient's Name: three component groups in Shift-JIS and the one to show.
  ctx.Write(SJ("患者氏名(0010,0010)の解析を開始"), kLogNormal, 2);
  {
    std::string groups[3];
    ConvertPersonNameGroups(r.Text(0x0010, 0x0010), characterSet, groups);
    for (int g = 0; g < 3; ++g) im.patientNameGroups[g].Assign(CutSjis(groups[g], 64));
    im.patientNameDisplay.Assign(CutSjis(groups[ChooseDisplayGroup(im.nameGroupIndex, groups)], 64));
  }
  ctx.Write(SJ("患者氏名(0010,0010)の解析を終了"), kLogNormal, 2);

  // Sex.
  im.sexText.Clear();
  if (im.sex.StartsWith("M")) im.sexText = SJ("男");
  else if (im.sex.StartsWith("F")) im.sexText = SJ("女");
  else if (im.sex.StartsWith("O")) im.sexText = SJ("その他");

  // Slice thickness.
  im.hasSliceThickness = 0;
  im.sliceThickness = 0;
  if (const ElementView e = r.Find(0x0018, 0x0050); e.found()) {
    im.sliceThickness = ParseDouble(e.text());
    im.hasSliceThickness = 1;
  }

  // Protocol Name: one group of person-name text.
  im.protocolName.Assign(CutSjis(DicomTextToSjis(r.Text(0x0018, 0x1030), characterSet), 64));

  // Decimal strings.
  if (const ElementView e = r.Find(0x0018, 0x1063); e.found()) im.frameTime = ParseDouble(e.text());
  ReadDecimals(r, 0x0018, 0x1164, im.imagerPixelSpacing, 2);
  ReadDecimals(r, 0x0020, 0x0032, im.imagePosition, 3);
  ReadDecimals(r, 0x0020, 0x0037, im.imageOrientation, 6);
  if (const ElementView e = r.Find(0x0020, 0x1041); e.found()) {
    im.sliceLocation = ToFloat(ParseDouble(e.text()));
    im.hasSliceLocation = 1;
  }
  ReadDecimals(r, 0x0028, 0x0030, im.pixelSpacing, 2);
  if (const ElementView e = r.Find(0x0028, 0x0008); e.found()) im.frameCount = ParseInt(e.text());

  // Ultrasound region deltas (inside the region sequence), centimetres.
  im.physicalDeltaX = ReadDouble(r, 0x0018, 0x602C);
  im.physicalDeltaY = ReadDouble(r, 0x0018, 0x602E);

  // Pixel spacing fallback: the imager's spacing, else the ultrasound deltas in mm.
  if (im.pixelSpacing[0] == 0 && im.pixelSpacing[1] == 0) {
    if (im.imagerPixelSpacing[0] > 0 && im.imagerPixelSpacing[1] > 0) {
      im.pixelSpacing[0] = im.imagerPixelSpacing[0];
      im.pixelSpacing[1] = im.imagerPixelSpacing[1];
    } else if (im.physicalDeltaX > 0 && im.physicalDeltaY > 0) {
      im.pixelSpacing[0] = ToFloat(im.physicalDeltaY * 10);  // between rows: vertical
      im.pixelSpacing[1] = ToFloat(im.physicalDeltaX * 10);  // between columns: horizontal
    }
  }

  // Photometric flags.
  im.isMonochrome1 = im.photometric.StartsWith("MONOCHROME1") ? 1 : 0;
  im.isColour = (im.photometric.StartsWith("RGB") || im.photometric.StartsWith("YBR_FULL") ||
                 im.photometric.StartsWith("YBR_FULL_422") || im.photometric.StartsWith("PALETTE COLOR") ||
                 // JPEG 2000 colour: the codec undoes the transform and delivers R, G, B.
                 im.photometric.StartsWith("YBR_RCT") || im.photometric.StartsWith("YBR_ICT"))
                    ? 1
                    : 0;

  // Unsigned shorts.
  im.planarConfiguration = static_cast<int32_t>(ReadUnsigned(r, 0x0028, 0x0006));
  im.rows = static_cast<int32_t>(ReadUnsigned(r, 0x0028, 0x0010));
  im.columns = static_cast<int32_t>(ReadUnsigned(r, 0x0028, 0x0011));
  im.bitsAllocated = static_cast<uint16_t>(ReadUnsigned(r, 0x0028, 0x0100));
  im.bitsStored = static_cast<uint16_t>(ReadUnsigned(r, 0x0028, 0x0101));
  im.pixelRepresentation = static_cast<int32_t>(ReadUnsigned(r, 0x0028, 0x0103));

  // Window and rescale, truncated toward zero (saturating).
  {
    std::string_view values[3];
    int n = SplitBackslashValues(r.Text(0x0028, 0x1050), values, 3);
    for (int i = 0; i < 3; ++i) im.fileWindowCenter[i] = i < n ? TruncToInt32(ParseDouble(values[i])) : 0;
    n = SplitBackslashValues(r.Text(0x0028, 0x1051), values, 3);
    for (int i = 0; i < 3; ++i) im.fileWindowWidth[i] = i < n ? TruncToInt32(ParseDouble(values[i])) : 0;
  }
  im.rescaleIntercept = TruncToInt32(ParseDouble(r.Text(0x0028, 0x1052)));
  // An empty Rescale Slope counts as absent: a slope of 0 would flatten every pixel.
  if (const ElementView e = r.Find(0x0028, 0x1053); e.found() && !IsBlank(e.text())) {
    im.rescaleSlope = ToFloat(ParseDouble(e.text()));
  } else {
    im.rescaleSlope = 1.0f;
  }

  // Palette colour tables, then the lookup table.
  for (int colour = 0; colour < 3; ++colour) {
    if (!ReadPaletteColour(ctx, r, im, colour)) return false;
  }
  im.hasPalette = (im.photometric.StartsWith("PALETTE COLOR") && im.paletteDescriptor[0][0] != 0 &&
                   im.paletteDescriptor[1][0] != 0 && im.paletteDescriptor[2][0] != 0)
                      ? 1
                      : 0;
  if (!ReadLookupTable(ctx, r, im)) return false;

  // Length field of the pixel data element.
  im.pixelDataLength = 0;
  if (const ElementView e = r.Find(0x7FE0, 0x0010); e.found()) {
    const size_t at = r.syntax == kImplicitLittle ? 4 : 8;
    if (r.end - e.tag >= static_cast<ptrdiff_t>(at + 4)) im.pixelDataLength = Get32(e.tag + at, r.big());
  }
  ctx.Write(SJ("DICOMヘッダから使用するTagのデータ抽出完了"), kLogNormal, 2);
  return true;
}

}  // namespace

bool ExtractImageAttributes(LoadContext& ctx, int viewPos) {
  DicomImage* slot = ctx.Slot(viewPos);
  if (slot == nullptr) {
    ctx.FreeFileBuffer();
    return false;
  }
  // The current record starts from what the file loader stored; every attribute is
  // extracted afresh, so an element missing from this file leaves its cleared value.
  DicomImage im;
  im.filePath = slot->filePath;
  im.headerSize = slot->headerSize;
  im.preambleSize = slot->preambleSize;
  im.datasetOffset = slot->datasetOffset;
  im.transferSyntaxUid = slot->transferSyntaxUid;
  im.syntaxType = slot->syntaxType;
  im.headerCopy = slot->headerCopy;
  slot->loaded = 0;
  slot->extracted = 0;
  ctx.panes[viewPos].loaded = false;
  ctx.Write(SJ("表示する画像データの読み込みフラグをOFF"), kLogNormal, 3);

  // The header region, bounded by the bytes really held.
  const size_t held = ctx.fileBuffer.size();
  const size_t headerEnd = im.headerSize < 0 ? 0 : static_cast<size_t>(im.headerSize);
  const size_t end = headerEnd < held ? headerEnd : held;
  const size_t datasetStart = im.datasetOffset < 0 ? 0 : static_cast<size_t>(im.datasetOffset);
  const size_t begin = datasetStart < end ? datasetStart : end;
  Region region;
  region.begin = ctx.fileBuffer.data() + begin;
  region.end = ctx.fileBuffer.data() + end;
  region.syntax = (im.syntaxType >= 0 && im.syntaxType <= 2) ? static_cast<int>(im.syntaxType) : 0;

  if (!ExtractAttributes(ctx, region, im) || !RunPixelStage(ctx, im, viewPos)) {
    ctx.FreeFileBuffer();
    return false;
  }

  im.loaded = 1;
  im.extracted = 1;
  ctx.panes[viewPos].loaded = true;
  *slot = std::move(im);
  ctx.FreeFileBuffer();
  ctx.Write(SJ("読み込んだファイルデータを解放する"), kLogNormal, 3);
  return true;
}

}  // namespace velmo
