// Pixel decoding speed: RLE frames, JPEG against a bare libjpeg-turbo decode, and the
// whole view-position load of a 512 x 512 CT file.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_slices.h"
#include "dicom/load_context.h"
#include "dicom/pixel_stage.h"
#include "dicom/read_dicom.h"
#include "dicom/rle_decode.h"
#include "dicom/view_load.h"
#include "support/dicom_writer.h"

namespace {

using velmo::test::Bytes;
constexpr int kSide = 512;


// A photo-like RGB picture: smooth gradients with mild noise.
Bytes RgbPicture() {
  Bytes out(kSide * kSide * 3);
  uint32_t seed = 777;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int n = (seed >> 16) % 3;
      uint8_t* p = &out[(y * kSide + x) * 3];
      p[0] = static_cast<uint8_t>(x / 2 + n);
      p[1] = static_cast<uint8_t>(y / 2);
      p[2] = static_cast<uint8_t>((x + y) / 4 + n);
    }
  return out;
}

Bytes PackBits(const Bytes& data, size_t begin, size_t end) {
  Bytes out;
  size_t i = begin;
  while (i < end) {
    size_t run = 1;
    while (i + run < end && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < end && lit < 128 &&
           !(i + lit + 2 < end && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2]))
      ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + lit));
    i += lit;
  }
  return out;
}

// An RLE fragment of interleaved samples: one segment per byte of each sample, high
// bytes first, each row encoded on its own like a lossless encoder does.
Bytes RleFragment(const Bytes& interleaved, int samples, int bytesPerSample) {
  const int n = samples * bytesPerSample;
  std::vector<Bytes> planes(n);
  for (int s = 0; s < samples; ++s)
    for (int b = 0; b < bytesPerSample; ++b) {
      const int seg = s * bytesPerSample + (bytesPerSample - 1 - b);
      for (size_t i = static_cast<size_t>(s * bytesPerSample + b); i < interleaved.size(); i += n)
        planes[seg].push_back(interleaved[i]);
    }
  Bytes out(64, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, static_cast<uint32_t>(n));
  for (int k = 0; k < n; ++k) {
    put32(4 + 4 * k, static_cast<uint32_t>(out.size()));
    for (size_t row = 0; row < static_cast<size_t>(kSide); ++row) {
      const Bytes packed = PackBits(planes[k], row * kSide, (row + 1) * kSide);
      out.insert(out.end(), packed.begin(), packed.end());
    }
  }
  return out;
}

Bytes Le16(const std::vector<uint16_t>& v) {
  Bytes out;
  for (uint16_t x : v) out.push_back(static_cast<uint8_t>(x)), out.push_back(static_cast<uint8_t>(x >> 8));
  return out;
}

void RunRle(benchmark::State& state, const Bytes& fragment, size_t frameBytes, int bits) {
  Bytes frame(frameBytes, 0);
  for (auto _ : state) {
    velmo::DecodeRleFrame(fragment.data(), fragment.size(), frame.data(), frame.size(), bits);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frameBytes));
  state.counters["ratio"] = static_cast<double>(frameBytes) / fragment.size();
}

void BM_RleDecode16BitCt(benchmark::State& state) {
  static const Bytes fragment = RleFragment(Le16(velmo::bench::CtSliceSamples()), 1, 2);
  RunRle(state, fragment, kSide * kSide * 2, 16);
}
BENCHMARK(BM_RleDecode16BitCt);

void BM_RleDecodeRgb(benchmark::State& state) {
  static const Bytes fragment = RleFragment(RgbPicture(), 3, 1);
  RunRle(state, fragment, kSide * kSide * 3, 8);
}
BENCHMARK(BM_RleDecodeRgb);

void BM_YbrFullToRgb(benchmark::State& state) {
  Bytes frame = RgbPicture();
  for (auto _ : state) {
    velmo::ConvertYbrFullToRgb(frame.data(), kSide * kSide);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_YbrFullToRgb);

Bytes JpegOf(const Bytes& pixels, int samples) {
  tjhandle tj = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(tj, pixels.data(), kSide, 0, kSide, samples == 3 ? TJPF_RGB : TJPF_GRAY, &jpeg, &size,
              samples == 3 ? TJSAMP_420 : TJSAMP_GRAY, 90, 0);
  Bytes out(jpeg, jpeg + size);
  if (out.size() % 2) out.push_back(0);
  tjFree(jpeg);
  tjDestroy(tj);
  return out;
}

const Bytes& JpegFragment(int samples) {
  static const Bytes grey = [] {
    Bytes g(kSide * kSide);
    const Bytes rgb = RgbPicture();
    for (size_t i = 0; i < g.size(); ++i) g[i] = rgb[3 * i];
    return JpegOf(g, 1);
  }();
  static const Bytes colour = JpegOf(RgbPicture(), 3);
  return samples == 3 ? colour : grey;
}

// libjpeg-turbo alone: one reused handle, one preallocated output.
void BM_JpegBareTurbo(benchmark::State& state) {
  const int samples = static_cast<int>(state.range(0));
  const Bytes& jpeg = JpegFragment(samples);
  tjhandle tj = tjInitDecompress();
  Bytes out(static_cast<size_t>(kSide) * kSide * samples);
  for (auto _ : state) {
    tjDecompress2(tj, jpeg.data(), jpeg.size(), out.data(), kSide, 0, kSide, samples == 3 ? TJPF_RGB : TJPF_GRAY, 0);
    benchmark::DoNotOptimize(out.data());
  }
  tjDestroy(tj);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_JpegBareTurbo)->Arg(1)->Arg(3);

// Our pixel stage on a JPEG file already in memory: allocation of pixelData, fragment
// search, decoder set-up, decode, default window.
void BM_JpegPixelStage(benchmark::State& state) {
  const int samples = static_cast<int>(state.range(0));
  velmo::test::DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.3.4");
  w.Encapsulated({JpegFragment(samples)});
  const Bytes file = velmo::test::MakeFile("1.2.840.10008.1.2.4.50", w.bytes());
  velmo::MemoryFileSource source;
  source.Add("/bench/jpeg.dcm", file);
  velmo::LoadContext ctx;
  ctx.files = &source;
  velmo::PrepareSingleFile(ctx, "/bench/jpeg.dcm");
  if (!velmo::ReadDicomFile(ctx, "/bench/jpeg.dcm", 1, true)) {
    state.SkipWithError("the JPEG file did not read");
    return;
  }
  velmo::DicomImage im = ctx.records[0];
  im.rows = im.columns = kSide;
  im.bitsAllocated = im.bitsStored = 8;
  im.isColour = samples == 3;
  im.photometric = samples == 3 ? "YBR_FULL_422" : "MONOCHROME2";
  for (auto _ : state) {
    if (!velmo::RunPixelStage(ctx, im, 1)) state.SkipWithError("pixel stage failed");
    benchmark::DoNotOptimize(im.pixelData.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * im.pixelData.size()));
}
BENCHMARK(BM_JpegPixelStage)->Arg(1)->Arg(3);

// Read from disk (warm page cache), extract, copy, default window, finish.
void BM_ViewLoadCt512(benchmark::State& state) {
  velmo::test::DicomWriter w(1);
  w.Text(0x0008, 0x0018, "UI", "1.2.392.200036.9999.5")
      .Text(0x0008, 0x0060, "CS", "CT")
      .Text(0x0010, 0x0010, "PN", "Yamada^Taro")
      .Text(0x0020, 0x000D, "UI", "1.2.392.200036.9999.6")
      .Text(0x0020, 0x000E, "UI", "1.2.392.200036.9999.7")
      .Text(0x0020, 0x0032, "DS", "-250\\-250\\100")
      .Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0")
      .U16(0x0028, 0x0002, 1)
      .Text(0x0028, 0x0004, "CS", "MONOCHROME2")
      .U16(0x0028, 0x0010, kSide)
      .U16(0x0028, 0x0011, kSide)
      .Text(0x0028, 0x0030, "DS", "0.5\\0.5")
      .U16(0x0028, 0x0100, 16)
      .U16(0x0028, 0x0101, 12)
      .U16(0x0028, 0x0102, 11)
      .U16(0x0028, 0x0103, 0)
      .Text(0x0028, 0x1052, "DS", "-1024")
      .Text(0x0028, 0x1053, "DS", "1")
      .PixelData(Le16(velmo::bench::CtSliceSamples()), "OW");
  const Bytes file = velmo::test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
  const std::string path = "/tmp/velmo-bench-ct512-" + std::to_string(getpid()) + ".dcm";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  velmo::LoadContext ctx;
  for (auto _ : state) {
    velmo::PrepareSingleFile(ctx, path);
    if (!velmo::LoadImageAtViewPosition(ctx, 1)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(ctx.records[0].pixelData.data());
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_ViewLoadCt512)->Unit(benchmark::kMicrosecond);

}  // namespace
