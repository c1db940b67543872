#pragma once
// Image export: the byte layouts the export buttons put on the clipboard and into
// files, the rule that picks the file format from the chosen name, and the writers.
//
// Two pictures can be exported from a pane:
// - the snapshot of what the pane shows (a 40-byte bitmap information header followed
//   by Wc x Hc pixels of blue, green, red, 0, bottom-up rows), "画面ｷｬﾌﾟﾁｬ";
// - the pane's display bitmap, a complete BMP file image (render/convert.h), "画像のみ".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// The BMP file image of a snapshot block: "BM", file size W*H*4 + 54, two reserved
// words 0, pixel offset 54, then the block's header and pixels. Empty when the block
// is not a usable 32-bit snapshot (too short for its sizes).
std::vector<uint8_t> SnapshotFileImage(const std::vector<uint8_t>& snapshotBlock);

// The display bitmap's own bytes: its first bfSize bytes, after checking that the
// header, colour table and pixels it describes are present. Empty when not usable.
std::vector<uint8_t> DisplayBitmapFileImage(const std::vector<uint8_t>& displayBitmap);

// A BMP file image without its 14-byte file header (information header, colour table
// for 8-bit images, pixels): what the clipboard receives. Empty for an empty input.
std::vector<uint8_t> WithoutFileHeader(const std::vector<uint8_t>& fileImage);

// The format a save-dialog name asks for. Only the exact extensions ".bmp" and ".jpg"
// count (case matters: "X.BMP" writes nothing).
enum class ExportFormat { kNone, kBmp, kJpeg };
ExportFormat ExportFormatForPath(std::string_view path);

// The picture of a BMP file image (8-bit with colour table, or 32-bit), top-down
// red, green, blue bytes. False when the image is not one of those layouts or is cut.
struct RgbPicture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};
bool DecodeBmpFileImage(const std::vector<uint8_t>& fileImage, RgbPicture* out);

// JPEG bytes of a BMP file image at the given quality (4:2:0; a picture whose colours
// are all grey is written as a one-channel grey JPEG). Empty on failure.
std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& fileImage, int quality = 80);

// Writes a BMP file image to `path` in the format its extension asks for: the bytes
// unchanged for ".bmp", a quality 80 JPEG for ".jpg". Returns false and writes nothing
// for any other extension or when the image cannot be encoded; the file is written
// through a temporary file and a rename.
bool WriteExportFile(const std::string& path, const std::vector<uint8_t>& fileImage);

}  // namespace velmo
