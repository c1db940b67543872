// Deflated explicit little endian: files deflated at test time by DCMTK's dcmconv load
// like their native originals in panes and lists; damaged streams are clean failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "browser/list_reader.h"
#include "dicom/deflate.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

bool HaveDcmconv() { return std::system("command -v dcmconv >/dev/null 2>&1") == 0; }

void Shell(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

class DeflatedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveDcmconv()) GTEST_SKIP() << "DCMTK's dcmconv not installed";
    im.rows = 300;  // the data set is larger than the first prefix reads
    im.columns = 280;
    im.bitsAllocated = 16;
    im.pixelRepresentation = 1;
    im.frames = "2";
    std::vector<int> values;
    for (int i = 0; i < 300 * 280 * 2; ++i) values.push_back((i % 280) * 7 - 1000 + (i / 280) % 50);
    pixels = Le16(values);
    DicomWriter w = ImageHeader(im, 1);
    w.Text(0x0010, 0x0010, "PN", "Deflate^Test");
    w.PixelData(pixels, "OW");
    WriteBytes(dir.File("native.dcm"), MakeFile(kExplicitLe, w.bytes()));
    Shell("dcmconv +td " + dir.File("native.dcm") + " " + dir.File("deflated.dcm"));
    deflated = ReadBytes(dir.File("deflated.dcm"));
  }
  Image im;
  Bytes pixels, deflated;
  TempDir dir;
};

TEST_F(DeflatedFiles, LoadAndListLikeTheNativeFile) {
  MemoryLoad load;
  ASSERT_TRUE(load.Load(deflated)) << load.Failure();
  EXPECT_EQ(std::string(load.im().transferSyntaxUid.view()), "1.2.840.10008.1.2.1.99");
  EXPECT_EQ(load.im().pixelData, pixels);
  EXPECT_TRUE(load.notes.entries.empty());  // no compressed-format warning

  MemoryFileSource files;
  files.Add("/mem/deflated.dcm", deflated);
  ListEntryReader reader(Log::Null(), &files);
  ListRecord r;
  r.filePath = "/mem/deflated.dcm";
  ASSERT_TRUE(reader.Read(r.filePath, r)) << Utf8FromSjis(reader.failureMessage());
  EXPECT_EQ(std::string(r.patientNameRaw.view()), "Deflate^Test");
  EXPECT_EQ(std::string(r.modality.view()), "OT");
}

TEST_F(DeflatedFiles, CutOrCorruptStreamsFailCleanly) {
  // The deflate stream starts after the meta group; cut it or damage it.
  for (size_t keep : {deflated.size() - 1, deflated.size() - 100, deflated.size() / 2, size_t{400}}) {
    SCOPED_TRACE(keep);
    Bytes cut(deflated.begin(), deflated.begin() + static_cast<long>(keep));
    MemoryLoad load;
    EXPECT_FALSE(load.Load(cut));
    EXPECT_EQ(load.Failure(), "未対応フォーマットのファイルです");
    MemoryFileSource files;
    files.Add("/mem/cut.dcm", cut);
    ListEntryReader reader(Log::Null(), &files);
    ListRecord r;
    EXPECT_FALSE(reader.Read("/mem/cut.dcm", r));
  }
  Bytes bad = deflated;
  for (size_t i = 400; i < 420; ++i) bad[i] = 0xFF;
  MemoryLoad load;
  EXPECT_FALSE(load.Load(bad));
}

TEST(Inflate, LeavesTheBufferAloneOnFailureAndAcceptsZlibWrapping) {
  const Bytes head = {'H', 'E', 'A', 'D'};
  // "hello hello hello" as raw deflate, and with a zlib wrapper.
  const Bytes raw = {0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x90, 0x00};
  const Bytes wrapped = {0x78, 0xda, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40,
                         0x90, 0x00, 0x3a, 0x2e, 0x06, 0x7d};
  auto join = [](const Bytes& a, const Bytes& b, size_t dropped) {
    Bytes out(a.size() + b.size() - dropped);
    std::copy(a.begin(), a.end(), out.begin());
    std::copy(b.begin(), b.end() - static_cast<long>(dropped), out.begin() + static_cast<long>(a.size()));
    return out;
  };
  for (const Bytes& stream : {raw, wrapped}) {
    Bytes buffer = join(head, stream, 0);
    uint64_t size = buffer.size();
    ASSERT_EQ(InflateDataset(buffer, 4, &size), InflateResult::kOk);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<long>(size)), "HEADhello hello hello");
  }
  Bytes buffer = join(head, raw, 3);
  const Bytes before = buffer;
  uint64_t size = buffer.size();
  EXPECT_EQ(InflateDataset(buffer, 4, &size), InflateResult::kDamaged);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(size, before.size());
  EXPECT_EQ(InflateDataset(buffer, 99, &size), InflateResult::kDamaged);  // offset past the data
}

}  // namespace
}  // namespace velmo::test
