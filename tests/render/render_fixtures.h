#pragma once
// DicomImage records built in memory for the rendering tests.
#include <cstdint>
#include <random>
#include <vector>

#include "dicom/dicom_image.h"

namespace velmo::test {

// A grey record with random samples (every bit random, so bits above bits stored
// are exercised too).
inline DicomImage MakeGrey(int rows, int cols, int bitsAllocated, int bitsStored, int pixelRepresentation,
                           std::mt19937& rng, int frames = 1) {
  DicomImage im;
  im.loaded = im.extracted = 1;
  im.rows = rows;
  im.columns = cols;
  im.bitsAllocated = uint16_t(bitsAllocated);
  im.bitsStored = uint16_t(bitsStored);
  im.pixelRepresentation = pixelRepresentation;
  im.frameCount = frames;
  im.photometric = "MONOCHROME2";
  im.pixelData.resize(size_t(rows) * cols * (bitsAllocated > 8 ? 2 : 1) * frames);
  for (auto& b : im.pixelData) b = uint8_t(rng());
  im.level = 0;
  im.width = 256;
  return im;
}

inline DicomImage MakeColour(int rows, int cols, std::mt19937& rng, bool planar = false) {
  DicomImage im;
  im.loaded = im.extracted = 1;
  im.rows = rows;
  im.columns = cols;
  im.bitsAllocated = 8;
  im.bitsStored = 8;
  im.isColour = 1;
  im.photometric = "RGB";
  im.planarConfiguration = planar ? 1 : 0;
  im.frameCount = 1;
  im.pixelData.resize(size_t(rows) * cols * 3);
  for (auto& b : im.pixelData) b = uint8_t(rng());
  im.level = 128;
  im.width = 256;
  return im;
}

// A 16-bit little-endian sample written into the record.
inline void SetWord(DicomImage& im, size_t index, uint16_t v) {
  im.pixelData[index * 2] = uint8_t(v);
  im.pixelData[index * 2 + 1] = uint8_t(v >> 8);
}

}  // namespace velmo::test
