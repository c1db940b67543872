// Decoding speed of one 512 x 512 16-bit CT frame in every codec Velmo reads beyond
// baseline JPEG and RLE: lossless JPEG (own decoder), JPEG-LS (CharLS), JPEG 2000
// lossless (OpenJPEG, one and two threads) and HTJ2K (OpenJPH and OpenJPEG in this process,
// and through the helper process as the pixel stage does it). The streams are made
// once with the command-line encoders (DCMTK's dcmcjpeg and dcmcjpls, opj_compress,
// ojph_compress); a benchmark whose encoder is missing reports an error and is skipped.
// Throughput is counted in bytes of decoded output.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench_slices.h"
#include "dicom/htj2k_child.h"
#include "dicom/htj2k_decode.h"
#include "dicom/j2k_decode.h"
#include "dicom/jpeg_lossless.h"
#include "dicom/jpegls_decode.h"
#include "support/dicom_writer.h"

namespace {

using velmo::test::Bytes;
constexpr int kSide = 512;
const std::string kDir = "/tmp/velmo-bench-codecs";


Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool Run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// The native CT file and the raw little-endian samples, written once.
void WriteSources() {
  static bool done = false;
  if (done) return;
  done = true;
  Run("mkdir -p " + kDir);
  const std::vector<uint16_t> slice = velmo::bench::CtSliceSamples();
  Bytes pixels;
  for (uint16_t v : slice) {
    pixels.push_back(static_cast<uint8_t>(v));
    pixels.push_back(static_cast<uint8_t>(v >> 8));
  }
  velmo::test::DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9999.1");
  w.Text(0x0008, 0x0060, "CS", "CT");
  w.U16(0x0028, 0x0002, 1);
  w.Text(0x0028, 0x0004, "CS", "MONOCHROME2");
  w.U16(0x0028, 0x0010, kSide);
  w.U16(0x0028, 0x0011, kSide);
  w.U16(0x0028, 0x0100, 16);
  w.U16(0x0028, 0x0101, 16);
  w.U16(0x0028, 0x0102, 15);
  w.U16(0x0028, 0x0103, 0);
  w.PixelData(pixels, "OW");
  const Bytes file = velmo::test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
  std::ofstream(kDir + "/native.dcm", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  std::ofstream(kDir + "/ct.rawl", std::ios::binary)
      .write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
}

// The first fragment of an encapsulated file: the stream starting with FF `second`.
Bytes FirstStream(const Bytes& file, uint8_t second) {
  for (size_t i = 4; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == second && file[i - 8] == 0xFE && file[i - 7] == 0xFF) {
      const uint32_t n = file[i - 4] | file[i - 3] << 8 | file[i - 2] << 16 | uint32_t{file[i - 1]} << 24;
      if (n <= file.size() - i) return Bytes(file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(i + n));
    }
  return {};
}

// The compressed frame of one codec, made once.
const Bytes& Stream(const std::string& codec) {
  static std::map<std::string, Bytes> made;
  auto it = made.find(codec);
  if (it != made.end()) return it->second;
  WriteSources();
  Bytes s;
  const std::string native = kDir + "/native.dcm";
  if (codec == "jpeg-lossless" && Run("dcmcjpeg +e1 " + native + " " + kDir + "/ll.dcm")) {
    s = FirstStream(ReadFile(kDir + "/ll.dcm"), 0xD8);
  } else if (codec == "jpeg-ls" && Run("dcmcjpls " + native + " " + kDir + "/ls.dcm")) {
    s = FirstStream(ReadFile(kDir + "/ls.dcm"), 0xD8);
  } else if (codec == "j2k" && Run("opj_compress -i " + kDir + "/ct.rawl -o " + kDir + "/ct.j2k -F 512,512,1,16,u")) {
    s = ReadFile(kDir + "/ct.j2k");
  } else if (codec == "htj2k" && Run("ojph_compress -i " + kDir + "/ct.rawl -o " + kDir +
                                     "/ct.j2c -dims '{512,512}' -num_comps 1 -signed false -bit_depth 16 "
                                     "-downsamp '{1,1}' -reversible true")) {
    s = ReadFile(kDir + "/ct.j2c");
  }
  return made[codec] = s;
}

template <typename Decode>
void DecodeLoop(benchmark::State& state, const std::string& codec, Decode decode) {
  const Bytes& s = Stream(codec);
  if (s.empty()) {
    state.SkipWithError(("no " + codec + " stream (encoder missing?)").c_str());
    return;
  }
  std::vector<uint8_t> frame(kSide * kSide * 2);
  for (auto _ : state) {
    if (!decode(s, frame.data())) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 2);
  state.counters["compressed_bytes"] = static_cast<double>(s.size());
}

void BM_Codec_JpegLossless_Ct512(benchmark::State& state) {
  DecodeLoop(state, "jpeg-lossless", [](const Bytes& s, uint8_t* out) {
    return velmo::DecodeJpegLossless(s.data(), s.size(), out, kSide, kSide, 2) == velmo::LosslessStatus::kOk;
  });
}
BENCHMARK(BM_Codec_JpegLossless_Ct512)->Unit(benchmark::kMillisecond);

void BM_Codec_JpegLs_Ct512(benchmark::State& state) {
  DecodeLoop(state, "jpeg-ls",
             [](const Bytes& s, uint8_t* out) { return velmo::DecodeJpegLs(s.data(), s.size(), out, kSide, kSide, 2); });
}
BENCHMARK(BM_Codec_JpegLs_Ct512)->Unit(benchmark::kMillisecond);

// Argument: OpenJPEG threads.
void BM_Codec_Jpeg2000Lossless_Ct512(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  DecodeLoop(state, "j2k", [threads](const Bytes& s, uint8_t* out) {
    return velmo::DecodeJpeg2000(s.data(), s.size(), out, kSide, kSide, 2, threads);
  });
}
BENCHMARK(BM_Codec_Jpeg2000Lossless_Ct512)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Codec_Htj2kLossless_Ct512(benchmark::State& state) {
  DecodeLoop(state, "htj2k",
             [](const Bytes& s, uint8_t* out) { return velmo::DecodeHtj2k(s.data(), s.size(), out, kSide, kSide, 2); });
}
BENCHMARK(BM_Codec_Htj2kLossless_Ct512)->Unit(benchmark::kMillisecond);

// The same HTJ2K stream through OpenJPEG, which the helper uses for unsigned samples.
void BM_Codec_Htj2kLosslessOpenJpeg_Ct512(benchmark::State& state) {
  DecodeLoop(state, "htj2k", [](const Bytes& s, uint8_t* out) {
    return velmo::DecodeJpeg2000AnyCoding(s.data(), s.size(), out, kSide, kSide, 2, 1);
  });
}
BENCHMARK(BM_Codec_Htj2kLosslessOpenJpeg_Ct512)->Unit(benchmark::kMillisecond);

// The same stream as the pixel stage decodes it: in the helper process (velmo-htj2k
// beside velmo-bench), start, pipes and reaping included. Wall-clock time, since the
// work is done in the child.
void BM_Codec_Htj2kLosslessInChild_Ct512(benchmark::State& state) {
  DecodeLoop(state, "htj2k", [](const Bytes& s, uint8_t* out) {
    return velmo::DecodeJpeg2000InChild(s.data(), s.size(), out, kSide, kSide, 2) == velmo::ChildDecodeStatus::kOk;
  });
}
BENCHMARK(BM_Codec_Htj2kLosslessInChild_Ct512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
