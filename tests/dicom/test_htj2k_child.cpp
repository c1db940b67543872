// HTJ2K frames decoded in the helper process: a stream that stops the HT decoder, cut
// and corrupted streams, and helpers that crash, hang, say too little or too much, or
// are missing all end as a clean failure of that one frame while the caller goes on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/log.h"
#include "dicom/htj2k_child.h"
#include "dicom/htj2k_decode.h"
#include "dicom/j2k_decode.h"
#include "test_pixel_support.h"

namespace velmo::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool HaveOjph() { return std::system("command -v ojph_compress >/dev/null 2>&1") == 0; }

class Htj2kChild : public ::testing::Test {
 protected:
  void SetUp() override { SetHtj2kHelperPath(std::string(VELMO_BIN_DIR) + "/velmo-htj2k"); }
  void TearDown() override { SetHtj2kHelperPath(""); }

  // A lossless HT codestream of w x h samples (16-bit when bits > 8) made by OpenJPH's encoder.
  Bytes HtStream(const std::vector<int>& values, int w, int h, int bits, bool isSigned) {
    Bytes raw;
    for (int v : values) {
      raw.push_back(static_cast<uint8_t>(v));
      if (bits > 8) raw.push_back(static_cast<uint8_t>(v >> 8));
    }
    WriteBytes(dir.File("in.raw"), raw);
    const std::string cmd = "ojph_compress -i " + dir.File("in.raw") + " -o " + dir.File("out.j2c") + " -dims {" +
                            std::to_string(w) + "," + std::to_string(h) + "} -num_comps 1 -signed " +
                            (isSigned ? "true" : "false") + " -bit_depth " + std::to_string(bits) +
                            " -downsamp {1,1} -reversible true >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return ReadBytes(dir.File("out.j2c"));
  }

  // A helper that is a shell script with this body.
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = dir.File(name);
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }

  TempDir dir;
};

std::vector<int> Ramp(int w, int h, int lo, int hi) {
  std::vector<int> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v.push_back(lo + (x * 37 + y * 23 + (x * y) % 7) % (hi - lo + 1));
  return v;
}

// The COD segment's wavelet transform byte; any value but 0 and 1 makes OpenJPH's
// decoder stop the process (an assertion in Debian's build).
size_t CodTransformByte(const Bytes& s) {
  for (size_t i = 2; i + 14 < s.size(); ++i)
    if (s[i] == 0xFF && s[i + 1] == 0x52) return i + 4 + 9;
  return 0;
}

TEST_F(Htj2kChild, StreamsThatStopTheDecoderFailOneFrameAndTheCallerGoesOn) {
  if (!HaveOjph()) GTEST_SKIP() << "ojph_compress not installed (openjph-tools)";
  const int w = 45, h = 31;
  const std::vector<int> values = Ramp(w, h, -2000, 3000);
  const Bytes good = HtStream(values, w, h, 16, true);
  ASSERT_GT(good.size(), 100u);
  const size_t frameBytes = static_cast<size_t>(w) * h * 2;
  Bytes frame(frameBytes, 0xEE);
  ASSERT_EQ(DecodeJpeg2000InChild(good.data(), good.size(), frame.data(), h, w, 2), ChildDecodeStatus::kOk);
  EXPECT_EQ(frame, Le16(values));

  Bytes stopper = good;
  const size_t at = CodTransformByte(stopper);
  ASSERT_GT(at, 0u);
  stopper[at] = 3;
  // In this process the decoder would take everything down with it ...
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Bytes out(frameBytes);
        DecodeHtj2k(stopper.data(), stopper.size(), out.data(), h, w, 2);
      },
      "");
  // ... in the helper it costs only the frame, which is left as it was.
  Bytes untouched(frameBytes, 0xEE);
  EXPECT_EQ(DecodeJpeg2000InChild(stopper.data(), stopper.size(), untouched.data(), h, w, 2),
            ChildDecodeStatus::kCrashed);
  EXPECT_EQ(untouched, Bytes(frameBytes, 0xEE));
  // A tile origin below the image origin (YTOsiz 2 > YOsiz 0, the last byte of SIZ)
  // sends OpenJPH's decoder round a loop for ever: the helper is killed at its time.
  Bytes looper = good;
  ASSERT_EQ(looper[39], 0);
  looper[39] = 2;
  EXPECT_EQ(DecodeJpeg2000InChild(looper.data(), looper.size(), untouched.data(), h, w, 2),
            ChildDecodeStatus::kTimedOut);
  EXPECT_EQ(untouched, Bytes(frameBytes, 0xEE));

  // Cut and corrupted streams, signed (OpenJPH) and unsigned (OpenJPEG): never a
  // partial frame, never the caller's end.
  const Bytes unsignedStream = HtStream(Ramp(w, h, 0, 4095), w, h, 16, false);
  for (const Bytes* stream : {&good, &unsignedStream}) {
    std::vector<Bytes> damaged;
    for (size_t cut = 0; cut < stream->size(); cut += std::max<size_t>(1, stream->size() / 15))
      damaged.emplace_back(stream->begin(), stream->begin() + static_cast<long>(cut));
    for (size_t i = 0; i < stream->size(); i += std::max<size_t>(1, stream->size() / 25)) {
      Bytes s = *stream;
      s[i] ^= static_cast<uint8_t>(1u << (i % 8));
      damaged.push_back(s);
    }
    for (const Bytes& s : damaged) {
      Bytes out(frameBytes, 0xEE);
      const ChildDecodeStatus status = DecodeJpeg2000InChild(s.data(), s.size(), out.data(), h, w, 2);
      if (status != ChildDecodeStatus::kOk) {
        EXPECT_EQ(out, Bytes(frameBytes, 0xEE)) << static_cast<int>(status);
      }
    }
  }

  // Through the pixel stage: a good frame, the stopper, a good frame again. The load
  // succeeds, the middle frame is black and logged.
  Image im;
  im.rows = h;
  im.columns = w;
  im.bitsAllocated = 16;
  im.pixelRepresentation = 1;
  im.frames = "3";
  Bytes even = good, evenStopper = stopper;
  if (even.size() % 2) even.push_back(0), evenStopper.push_back(0);
  TempDir install;
  MakeInstallation(install.path(), "[詳細]\nLogLevel=2\n");
  RotateLogs(install.path() + "/");
  Log log(install.path() + "/");
  MemoryLoad load;
  load.ctx.log = &log;
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {even, evenStopper, even}, "1.2.840.10008.1.2.4.201"))) << load.Failure();
  EXPECT_EQ(load.FrameBytes(0), Le16(values));
  EXPECT_EQ(load.FrameBytes(1), Bytes(frameBytes, 0));
  EXPECT_EQ(load.FrameBytes(2), Le16(values));
  const Bytes logBytes = ReadBytes(LogFilePath(install.path() + "/", 1));
  const std::string text(logBytes.begin(), logBytes.end());
  EXPECT_NE(text.find(SJ("Jpegフレーム(1)の解凍に失敗しました")), std::string::npos);
  EXPECT_EQ(text.find(SJ("Jpegフレーム(0)の解凍に失敗しました")), std::string::npos);
}

// Every outcome of the helper other than exit 0 with exactly the frame is a failure,
// including a helper that never reads its input (the write into a pipe nobody reads
// must not end the caller with SIGPIPE).
TEST_F(Htj2kChild, EveryOtherOutcomeOfTheHelperIsAFailure) {
  const int rows = 16, columns = 16;
  const size_t frameBytes = rows * columns * 2;
  const std::string n = std::to_string(frameBytes);
  struct Case {
    const char* what;
    std::string helper;
    ChildDecodeStatus expected;
  };
  const Case cases[] = {
      {"missing", dir.File("no-such-helper"), ChildDecodeStatus::kNoHelper},
      {"not executable", dir.path(), ChildDecodeStatus::kNoHelper},
      {"exits at once", Script("quit", "exit 0"), ChildDecodeStatus::kBadOutput},
      {"says too little", Script("short", "cat >/dev/null; head -c " + std::to_string(frameBytes - 1) + " /dev/zero"),
       ChildDecodeStatus::kBadOutput},
      {"says too much", Script("long", "cat >/dev/null; head -c " + std::to_string(frameBytes + 1) + " /dev/zero"),
       ChildDecodeStatus::kBadOutput},
      {"fails", Script("fail", "cat >/dev/null; head -c " + n + " /dev/zero; exit 1"), ChildDecodeStatus::kFailed},
      {"aborts", Script("abort", "kill -ABRT $$"), ChildDecodeStatus::kCrashed},
      {"hangs", Script("hang", "exec sleep 60"), ChildDecodeStatus::kTimedOut},
      {"answers right", Script("right", "cat >/dev/null; head -c " + n + " /dev/zero"), ChildDecodeStatus::kOk},
      // Answers only when it runs without core dumps and (but in sanitizer builds,
      // whose shadow memory needs the address space) under an address-space limit.
      {"runs under limits",
       Script("limits", std::string("cat >/dev/null; [ \"$(ulimit -c)\" = 0 ] || exit 1; ") +
                            (kSanitized ? "" : "[ \"$(ulimit -v)\" != unlimited ] || exit 1; ") + "head -c " + n +
                            " /dev/zero"),
       ChildDecodeStatus::kOk},
  };
  const Bytes stream(2 << 20, 0x5A);  // more than a pipe holds
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetHtj2kHelperPath(c.helper);
    Bytes frame(frameBytes, 0xEE);
    EXPECT_EQ(DecodeJpeg2000InChild(stream.data(), stream.size(), frame.data(), rows, columns, 2), c.expected);
    EXPECT_EQ(frame, Bytes(frameBytes, c.expected == ChildDecodeStatus::kOk ? 0 : 0xEE));
  }
  // Every child was reaped, the killed one included.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  // Through the pixel stage with no helper: the frame stays black, the load succeeds.
  SetHtj2kHelperPath(dir.File("no-such-helper"));
  Image im;
  im.rows = rows;
  im.columns = columns;
  im.bitsAllocated = 16;
  MemoryLoad load;
  Bytes fragment(64, 0x11);
  fragment[0] = 0xFF, fragment[1] = 0x4F, fragment[2] = 0xFF, fragment[3] = 0x51;  // SOC, SIZ
  ASSERT_TRUE(load.Load(EncapsulatedFile(im, {fragment}, "1.2.840.10008.1.2.4.203"))) << load.Failure();
  EXPECT_EQ(load.FrameBytes(0), Bytes(frameBytes, 0));
}

}  // namespace
}  // namespace velmo::test
