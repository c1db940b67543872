// velmo-cli info FILE: loads FILE as a pane would and prints the image record.
#include <charconv>
#include <iostream>
#include <sstream>

#include "cli_common.h"
#include "dicom/read_dicom.h"
#include "dicom/view_load.h"
#include "sha256.h"
#include "base/log.h"
#include "base/install.h"

namespace velmo::cli {

namespace {

std::string Num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}
std::string Num(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}
template <typename T>
std::string Num(T v) {
  return std::to_string(v);
}
template <typename T, size_t N>
std::string List(const T (&values)[N]) {
  std::string out;
  for (size_t i = 0; i < N; ++i) {
    if (i) out += ",";
    out += Num(values[i]);
  }
  return out;
}
template <size_t W, size_t N>
std::string TextList(const FixedText<W> (&values)[N]) {
  std::string out;
  for (size_t i = 0; i < N; ++i) {
    if (i) out += ",";
    out += CleanText(values[i].view());
  }
  return out;
}

// Smallest and largest stored value of frame 0 (signed when pixelRepresentation is 1).
void PixelRange(const DicomImage& im, long long* lo, long long* hi) {
  *lo = *hi = 0;
  const uint64_t frame = im.FrameBytes();
  if (frame == 0 || im.pixelData.size() < frame) return;
  const uint8_t* p = im.pixelData.data();
  bool first = true;
  auto take = [&](long long v) {
    if (first) { *lo = *hi = v; first = false; }
    if (v < *lo) *lo = v;
    if (v > *hi) *hi = v;
  };
  if (im.bitsAllocated > 8 && im.SamplesInPixelData() == 2) {
    // Samples keep the file's byte order for native big-endian data.
    const bool big = im.syntaxType == kExplicitBig && im.pixelDataLength != 0xFFFFFFFFu;
    for (uint64_t i = 0; i + 1 < frame; i += 2) {
      uint16_t u = big ? static_cast<uint16_t>((p[i] << 8) | p[i + 1]) : static_cast<uint16_t>(p[i] | (p[i + 1] << 8));
      take(im.pixelRepresentation == 1 ? static_cast<long long>(static_cast<int16_t>(u)) : static_cast<long long>(u));
    }
  } else {
    for (uint64_t i = 0; i < frame; ++i)
      take(im.pixelRepresentation == 1 && im.SamplesInPixelData() == 1 ? static_cast<long long>(static_cast<int8_t>(p[i]))
                                                                        : static_cast<long long>(p[i]));
  }
}

void PrintRecord(const DicomImage& im, std::ostream& out) {
  auto line = [&](const char* name, const std::string& value) { out << name << "=" << value << "\n"; };
  line("loaded", Num(int(im.loaded)));
  line("extracted", Num(int(im.extracted)));
  line("filePath", im.filePath);
  line("headerSize", Num(im.headerSize));
  line("preambleSize", Num(im.preambleSize));
  line("datasetOffset", Num(im.datasetOffset));
  line("transferSyntaxUid", CleanText(im.transferSyntaxUid.view()));
  line("syntaxType", Num(im.syntaxType));
  line("characterSets", TextList(im.characterSets));
  line("nameGroupIndex", List(im.nameGroupIndex));
  line("imageTypeText", CleanText(im.imageTypeText.view()));
  line("imageTypeValues", TextList(im.imageTypeValues));
  line("sopClassUid", CleanText(im.sopClassUid.view()));
  line("sopInstanceUid", CleanText(im.sopInstanceUid.view()));
  line("studyDate", CleanText(im.studyDate.view()));
  line("studyTime", CleanText(im.studyTime.view()));
  line("seriesTime", CleanText(im.seriesTime.view()));
  line("contentTime", CleanText(im.contentTime.view()));
  line("accessionNumber", CleanText(im.accessionNumber.view()));
  line("modality", CleanText(im.modality.view()));
  line("manufacturer", CleanText(im.manufacturer.view()));
  line("institutionName", CleanText(im.institutionName.view()));
  line("stationName", CleanText(im.stationName.view()));
  line("modelName", CleanText(im.modelName.view()));
  line("patientNameGroups", TextList(im.patientNameGroups));
  line("patientNameDisplay", CleanText(im.patientNameDisplay.view()));
  line("patientId", CleanText(im.patientId.view()));
  line("birthDate", CleanText(im.birthDate.view()));
  line("sex", CleanText(im.sex.view()));
  line("sexText", CleanText(im.sexText.view()));
  line("bodyPart", CleanText(im.bodyPart.view()));
  line("hasSliceThickness", Num(int(im.hasSliceThickness)));
  line("sliceThickness", Num(im.sliceThickness));
  line("protocolName", CleanText(im.protocolName.view()));
  line("frameTime", Num(im.frameTime));
  line("imagerPixelSpacing", List(im.imagerPixelSpacing));
  line("convolutionKernel", CleanText(im.convolutionKernel.view()));
  line("receiveCoil", CleanText(im.receiveCoil.view()));
  line("physicalDeltaX", Num(im.physicalDeltaX));
  line("physicalDeltaY", Num(im.physicalDeltaY));
  line("studyInstanceUid", CleanText(im.studyInstanceUid.view()));
  line("seriesInstanceUid", CleanText(im.seriesInstanceUid.view()));
  line("seriesNumber", CleanText(im.seriesNumber.view()));
  line("instanceNumber", CleanText(im.instanceNumber.view()));
  line("patientOrientation", TextList(im.patientOrientation));
  line("imagePosition", List(im.imagePosition));
  line("imageOrientation", List(im.imageOrientation));
  line("frameOfReferenceUid", CleanText(im.frameOfReferenceUid.view()));
  line("hasSliceLocation", Num(int(im.hasSliceLocation)));
  line("sliceLocation", Num(im.sliceLocation));
  line("photometric", CleanText(im.photometric.view()));
  line("isMonochrome1", Num(int(im.isMonochrome1)));
  line("isColour", Num(im.isColour));
  line("planarConfiguration", Num(im.planarConfiguration));
  line("frameCount", Num(im.frameCount));
  line("rows", Num(im.rows));
  line("columns", Num(im.columns));
  line("pixelSpacing", List(im.pixelSpacing));
  line("bitsAllocated", Num(im.bitsAllocated));
  line("bitsStored", Num(im.bitsStored));
  line("pixelRepresentation", Num(im.pixelRepresentation));
  line("fileWindowCenter", List(im.fileWindowCenter));
  line("fileWindowWidth", List(im.fileWindowWidth));
  line("rescaleIntercept", Num(im.rescaleIntercept));
  line("rescaleSlope", Num(im.rescaleSlope));
  line("levelMax", Num(im.levelMax));
  line("levelMin", Num(im.levelMin));
  line("widthMax", Num(im.widthMax));
  line("widthMin", Num(im.widthMin));
  line("level", Num(im.level));
  line("width", Num(im.width));
  line("hasPalette", Num(int(im.hasPalette)));
  line("paletteDescriptor", List(im.paletteDescriptor[0]) + "," + List(im.paletteDescriptor[1]) + "," +
                                List(im.paletteDescriptor[2]));
  // Owned tables and buffers are shown by their size (entries or bytes).
  line("paletteRed", Num(im.paletteRed.size()));
  line("paletteGreen", Num(im.paletteGreen.size()));
  line("paletteBlue", Num(im.paletteBlue.size()));
  line("hasVoiLut", Num(im.hasVoiLut));
  line("voiLutEntries", Num(im.voiLutEntries));
  line("voiLutFirstMapped", Num(im.voiLutFirstMapped));
  line("voiLutBits", Num(im.voiLutBits));
  line("voiLutData", Num(im.voiLutData.size()));
  line("pixelDataLength", Num(im.pixelDataLength));
  line("headerCopy", Num(im.headerCopy.size()));
  line("pixelData", Num(im.pixelData.size()));
  line("displayBitmap", Num(im.displayBitmap.size()));
  long long lo = 0, hi = 0;
  PixelRange(im, &lo, &hi);
  line("pixelMin", Num(lo));
  line("pixelMax", Num(hi));
  const uint64_t frame = im.FrameBytes();
  line("frame0Sha256", im.pixelData.size() >= frame && frame > 0 ? Sha256Hex(im.pixelData.data(), frame) : "");
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::cerr << "usage: velmo-cli info FILE\n";
    return kExitUsage;
  }
  StderrNotifier notifier;
  Log log(InstallFolder());
  LoadContext ctx;
  ctx.notifier = &notifier;
  ctx.log = &log;
  if (!LoadOneImage(ctx, args[0])) return kExitFailed;
  PrintRecord(ctx.records[0], std::cout);
  return kExitOk;
}

}  // namespace velmo::cli
