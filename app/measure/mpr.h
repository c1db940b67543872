#pragma once
// Multiplanar reformatting of a series: the slices of the left image's series are
// read from their files, stacked by slice location (largest first), resampled along
// the stacking axis to the row spacing, and a plane across the stack is extracted
// for a horizontal or a vertical line over the left image.
//
// Samples: 16-bit series are resampled as they are stored (signed or unsigned by the
// pixel representation). 8-bit grey series are widened to 16 bits for the volume and
// narrowed back (clamped to the 8-bit range) in the output image; colour series are
// resampled channel by channel the same way. The output image therefore always has
// the left image's sample layout (bytes per pixel 1, 2 or 3), so a record holding it
// is displayed like any other image.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/fixed_text.h"

namespace velmo {

struct DicomImage;
class FileSource;
class Log;

// One accepted slice of the series, read from its own file.
struct MprSlice {
  FixedText<80> imageTypeText;
  FixedText<16> imageTypeValues[5];
  double sliceThickness = 0;
  int32_t seriesNumber = 0;
  int32_t instanceNumber = 0;
  double imagePosition[3] = {0, 0, 0};
  double imageOrientation[6] = {0, 0, 0, 0, 0, 0};
  FixedText<64> frameOfReferenceUid;
  double sliceLocation = 0;
  uint16_t rows = 0, columns = 0;
  double pixelSpacing[2] = {0, 0};  // row spacing, column spacing
  uint64_t sliceSize = 0;           // bytes of one slice in the slice buffer
  uint64_t pixelOffset = 0;         // where this slice's pixels start in the slice buffer
  std::string filePath;
};

// Why reading the series stopped. Every failure but kNoSlices carries a message.
enum class MprReadResult { kOk, kFailed, kNoSlices };

// Which of the two volume views is built.
enum class VolumeView { kMpr, kMip };

struct MprState {
  // The series as read: records sorted by slice location (descending), the slice
  // buffer in file order, the sample layout of the left image.
  std::vector<MprSlice> slices;
  std::vector<uint8_t> sliceBuffer;
  int32_t rows = 0, columns = 0;
  int32_t channels = 1;        // 3 for colour, else 1
  int32_t bytesPerSample = 2;  // 2 when bits allocated > 8, else 1
  bool isSigned = false;       // pixel representation 1
  float rowSpacing = 0;        // used for the plane count

  // The resampled volume: planes x rows x columns x channels samples, stored as
  // 16-bit patterns (signed or unsigned by isSigned).
  int32_t planes = 0;
  std::vector<uint16_t> volume;
  // The output image: planes rows of outputWidth pixels in the left image's layout.
  int32_t outputWidth = 0;
  std::vector<uint8_t> output;

  // MPR lines (left-image pixels) and the active line (1 horizontal, 2 vertical).
  int32_t lineY = 0, lineX = 0;
  int32_t activeLine = 1;
  bool dragging = false;

  // MIP slab: vertical lines x1, x2, horizontal lines y1, y2, direction 1 (along the
  // vertical axis, bounded by y1/y2) or 2 (along the horizontal axis, by x1/x2).
  int32_t mipX1 = 0, mipX2 = 0, mipY1 = 0, mipY2 = 0;
  int32_t mipDirection = 1;
  int32_t mipDragLine = 0;  // 1..4 = y1, y2, x1, x2 while dragging, else 0
  bool mipDragging = false;

  FixedText<64> seriesUid;
  bool volumeValid = false;

  int BytesPerPixel() const { return channels * bytesPerSample; }
  uint64_t PlaneSamples() const { return uint64_t(rows) * uint64_t(columns) * uint64_t(channels); }
  // Frees the volume and output (the slices stay).
  void ReleaseVolume();
};

// The worker's shared flags; the UI thread writes `cancel`, the worker the rest.
struct MprProgress {
  std::atomic<bool> cancel{false};
  std::atomic<bool> running{false};
  std::atomic<bool> done{false};
  std::atomic<int32_t> plane{0};  // planes finished so far
};

// ---- reading the series ----

// Reads the slice files of the left image's series (paths in list order) through the
// loader's whole-file read and the element scanner, keeps the slices whose image type
// and frame of reference equal the left image's and whose size and pixel data fit,
// sorts them, and computes the plane count and output width. On kFailed *message
// holds the warning to show (Shift-JIS); kNoSlices means nothing was accepted.
// Does not build the volume.
// `files` null reads the disk.
MprReadResult ReadSeriesForVolume(const DicomImage& left, const std::vector<std::string>& paths, VolumeView view,
                                  MprState& state, std::string* message, const Log* log = nullptr,
                                  FileSource* files = nullptr);

// The descending selection sort by slice location (first of equal maxima, swapped).
void SortSlicesByLocation(std::vector<MprSlice>& slices);

// round(|first location - last location| / row spacing) as trunc(x + 0.5), saturated
// to 0 .. INT32_MAX (0 for a spacing that is not positive or not finite).
int32_t PlaneCount(double firstLocation, double lastLocation, double rowSpacing);

// Sizes the volume and output image (64-bit checked). False on an impossible size or
// a failed allocation; *bytes receives what was asked for.
bool AllocateVolume(MprState& state, uint64_t* bytes);

// ---- resampling ----

// The interpolation weight of a slice at distance t (1/512 slice units), scaled by 2^27.
int64_t CubicWeight(int64_t t);

// Computes planes [first, last) of the volume into state.volume. `accumulator` is the
// per-thread plane accumulator (resized here once). Stops when progress.cancel is set.
void ResamplePlanes(MprState& state, int32_t first, int32_t last, int32_t step, MprProgress& progress,
                    std::vector<int64_t>& accumulator);

// The whole volume with `threads` workers (1 or 2 on this machine; planes are split
// between them, the result is the same bytes). Sets running/done in `progress`.
void BuildVolume(MprState& state, MprProgress& progress, int threads);

// ---- output ----

// Output image for the active line at (lineX, lineY): horizontal copies row y of each
// plane, vertical takes column x; `draft` reads every second plane and row for the
// vertical line and writes each read pixel and its right neighbour twice.
void ExtractMpr(MprState& state, bool draft);

// The value range of the volume's samples (by bytes per sample and signedness).
void SampleRange(const MprState& s, int32_t* lo, int32_t* hi);
// Writes one volume sample (16-bit pattern) into an output pixel (1 or 2 bytes, the
// 2-byte form little-endian).
void StoreSample(const MprState& s, uint8_t* out, uint16_t bits);

// The record the right pane shows for a reformat: a copy of the left image's
// attributes and header bytes (no buffer of the left image is shared), one frame of
// outputWidth x planes pixels in little-endian, interleaved layout, and its own
// display bitmap. The window stays the left image's.
void FillReformatRecord(const DicomImage& left, const MprState& state, DicomImage& slot);
// Copies the current output image into the record (after each extraction or
// projection) and asks for a new display bitmap.
void UpdateReformatPixels(const MprState& state, DicomImage& slot);

// The value of a sample of the volume as the series stores it (signed or unsigned).
inline int32_t VolumeValue(const MprState& s, uint16_t bits) {
  return s.isSigned ? int32_t(int16_t(bits)) : int32_t(bits);
}

}  // namespace velmo
