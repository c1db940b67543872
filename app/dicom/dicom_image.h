#pragma once
// DicomImage: one image's record of extracted attributes and owned buffers.
// Text fields hold the value bytes as stored (padding included), cut at their width.
#include <cstdint>
#include <string>
#include <vector>

#include "base/fixed_text.h"

namespace velmo {

// The encoding of a data set.
enum SyntaxType : int16_t { kImplicitLittle = 0, kExplicitLittle = 1, kExplicitBig = 2 };

// The longest file path a record keeps. Real Linux paths can be long; the path is
// never cut short of this.
inline constexpr size_t kMaxPathBytes = 4096;

struct DicomImage {
  uint8_t loaded = 0;     // pixel data of this image is in pixelData
  uint8_t extracted = 0;  // attributes have been extracted
  std::string filePath;   // taken from the image's ListRecord

  // Filled by the file loader.
  int32_t headerSize = 0;     // file offset of the first byte of the pixel data value
  int32_t preambleSize = 0;   // 132 with "DICM" at bytes 128..131, else 0
  int32_t datasetOffset = 0;  // preambleSize + size of the file meta group
  FixedText<64> transferSyntaxUid;
  int16_t syntaxType = kImplicitLittle;

  // Filled by attribute extraction.
  FixedText<16> characterSets[5];
  int16_t nameGroupIndex[3] = {-1, -1, -1};
  FixedText<80> imageTypeText;
  FixedText<16> imageTypeValues[5];
  FixedText<64> sopClassUid, sopInstanceUid;
  FixedText<10> studyDate;
  FixedText<16> studyTime, seriesTime, contentTime;
  FixedText<16> accessionNumber, modality;
  FixedText<64> manufacturer, institutionName;
  FixedText<16> stationName;
  FixedText<64> modelName;
  FixedText<64> patientNameGroups[3];
  FixedText<64> patientNameDisplay;
  FixedText<64> patientId;
  FixedText<10> birthDate;
  FixedText<16> sex;
  FixedText<7> sexText;  // "男", "女", "その他" (8 bytes with the terminating zero)
  FixedText<16> bodyPart;
  uint8_t hasSliceThickness = 0;
  double sliceThickness = 0;
  FixedText<64> protocolName;
  double frameTime = 0;
  float imagerPixelSpacing[2] = {0, 0};
  FixedText<16> convolutionKernel, receiveCoil;
  double physicalDeltaX = 0, physicalDeltaY = 0;
  FixedText<64> studyInstanceUid, seriesInstanceUid;
  FixedText<12> seriesNumber, instanceNumber;
  FixedText<16> patientOrientation[2];
  float imagePosition[3] = {0, 0, 0};
  float imageOrientation[6] = {0, 0, 0, 0, 0, 0};
  FixedText<64> frameOfReferenceUid;
  uint8_t hasSliceLocation = 0;
  float sliceLocation = 0;
  FixedText<16> photometric;
  uint8_t isMonochrome1 = 0;
  int32_t isColour = 0;
  int32_t planarConfiguration = 0;
  int32_t frameCount = 0;
  int32_t rows = 0, columns = 0;
  float pixelSpacing[2] = {0, 0};  // row spacing, column spacing (mm)
  uint16_t bitsAllocated = 0, bitsStored = 0;
  int32_t pixelRepresentation = 0;
  int32_t fileWindowCenter[3] = {0, 0, 0};
  int32_t fileWindowWidth[3] = {0, 0, 0};
  int32_t rescaleIntercept = 0;
  float rescaleSlope = 1.0f;
  int32_t levelMax = 0, levelMin = 0, widthMax = 0, widthMin = 0, level = 0, width = 0;
  uint8_t hasPalette = 0;
  int32_t paletteDescriptor[3][3] = {};  // red, green, blue: entries, first mapped value, bits
  std::vector<uint16_t> paletteRed, paletteGreen, paletteBlue;
  int32_t hasVoiLut = 0;
  int32_t voiLutEntries = 0, voiLutFirstMapped = 0, voiLutBits = 0;
  std::vector<uint16_t> voiLutData;
  uint32_t pixelDataLength = 0;  // FFFFFFFF for encapsulated data

  std::vector<uint8_t> headerCopy;   // the first headerSize bytes of the file
  std::vector<uint8_t> pixelData;    // pixel values of all frames
  std::vector<uint8_t> displayBitmap;  // bits of the display bitmap
  int32_t displayBitmapPane = 0;     // which pane converted displayBitmap (0: none)

  // Samples per pixel in pixelData: 3 for colour without palette, else 2 when
  // bitsAllocated > 8, else 1.
  int SamplesInPixelData() const { return (isColour && !hasPalette) ? 3 : (bitsAllocated > 8 ? 2 : 1); }
  int32_t Frames() const { return frameCount < 1 ? 1 : frameCount; }
  // rows x columns x samples, in 64 bits.
  uint64_t FrameBytes() const {
    return static_cast<uint64_t>(rows < 0 ? 0 : rows) * static_cast<uint64_t>(columns < 0 ? 0 : columns) *
           static_cast<uint64_t>(SamplesInPixelData());
  }
  // Frees the owned buffers (headerCopy, pixelData, displayBitmap, palettes, LUT).
  void FreeBuffers() {
    std::vector<uint8_t>().swap(headerCopy);
    std::vector<uint8_t>().swap(pixelData);
    std::vector<uint8_t>().swap(displayBitmap);
    displayBitmapPane = 0;
    std::vector<uint16_t>().swap(paletteRed);
    std::vector<uint16_t>().swap(paletteGreen);
    std::vector<uint16_t>().swap(paletteBlue);
    std::vector<uint16_t>().swap(voiLutData);
  }
};

}  // namespace velmo
