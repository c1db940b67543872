// How much of a file the loader reads, counted by the disk source: the header-only
// strategy must not touch the pixel data of a large file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "dicom/load_context.h"
#include "dicom/read_dicom.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::test {
namespace {

// Writes a file whose pixel data value starts `pixelAt` bytes in (give or take a few
// bytes of padding) and whose total size is `total`; the pixel bytes are a hole.
// Returns the offset of the pixel value.
int64_t WriteImage(const std::string& path, size_t pixelAt, uint64_t total) {
  DicomWriter ds(1);
  ds.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  ds.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9116.2.6.1.48.7");
  ds.Text(0x0010, 0x0010, "PN", "Yamada^Taro");
  ds.U16(0x0028, 0x0010, 512);
  ds.U16(0x0028, 0x0011, 512);
  Bytes head = MakeFile("1.2.840.10008.1.2.1", ds.bytes());
  // Pad with a private text element so the pixel element starts near pixelAt.
  const size_t padding = pixelAt > head.size() + 8 + 12 ? pixelAt - head.size() - 8 - 12 : 0;
  DicomWriter pad(1);
  pad.Element(0x0009, 0x0010, "LO", std::string(padding & ~size_t{1}, ' '));
  head.insert(head.end(), pad.bytes().begin(), pad.bytes().end());
  DicomWriter pixel(1);
  const uint64_t valueStart = head.size() + 12;
  pixel.Header(0x7FE0, 0x0010, "OW", static_cast<uint32_t>(total > valueStart ? total - valueStart : 0));
  head.insert(head.end(), pixel.bytes().begin(), pixel.bytes().end());
  WriteBytes(path, head);
  if (total > head.size()) {
    int fd = ::open(path.c_str(), O_WRONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(total)), 0);
    ::close(fd);
  }
  return static_cast<int64_t>(valueStart);
}

struct Counted {
  bool ok;
  uint64_t bytes, calls;
  int32_t headerSize;
};
Counted Load(const std::string& path, bool fullRead) {
  LoadContext ctx;
  PrepareSingleFile(ctx, path);
  DiskFileSource& disk = DiskFileSource::Instance();
  ctx.files = &disk;
  disk.bytesRead = 0;
  disk.readCalls = 0;
  const bool ok = ReadDicomFile(ctx, path, 1, fullRead);
  return {ok, disk.bytesRead.load(), disk.readCalls.load(), ctx.records[0].headerSize};
}

TEST(ReadBytesCounted, HeaderOnlyReadOfALargeFileReadsEightKilobytesOnce) {
  TempDir dir;
  const std::string path = dir.File("large.dcm");
  const uint64_t total = 50ull * 1024 * 1024;
  const int64_t pixel = WriteImage(path, 2048, total);
  ASSERT_GT(pixel, 1900);
  ASSERT_LT(pixel, 2200);

  const Counted header = Load(path, false);
  ASSERT_TRUE(header.ok);
  EXPECT_EQ(header.calls, 1u);
  EXPECT_EQ(header.bytes, 8192u);
  EXPECT_EQ(header.headerSize, pixel);

  const Counted whole = Load(path, true);
  ASSERT_TRUE(whole.ok);
  EXPECT_EQ(whole.calls, 1u);
  EXPECT_EQ(whole.bytes, total);
  EXPECT_EQ(whole.headerSize, pixel);
}

TEST(ReadBytesCounted, PixelDataBeyondTheFirstPrefixTakesASecondReadOfTheWholeSmallFile) {
  TempDir dir;
  const std::string path = dir.File("small.dcm");
  const int64_t pixel = WriteImage(path, 9000, 20000);
  const Counted c = Load(path, false);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.calls, 2u);
  EXPECT_EQ(c.bytes, 8192u + 20000u);
  EXPECT_EQ(c.headerSize, pixel);
}

TEST(ReadBytesCounted, WithoutPixelDataEveryPrefixAndThenTheWholeFileIsRead) {
  TempDir dir;
  const std::string path = dir.File("nopixel.dcm");
  DicomWriter ds(1);
  ds.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  ds.Element(0x0009, 0x1010, "OB", Bytes(2 * 1024 * 1024, 0));
  const Bytes file = MakeFile("1.2.840.10008.1.2.1", ds.bytes());
  WriteBytes(path, file);
  const Counted c = Load(path, false);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.calls, 8u);
  EXPECT_EQ(c.bytes, 8192u + 32768 + 65536 + 131072 + 262144 + 524288 + 1048576 + file.size());
}

}  // namespace
}  // namespace velmo::test
