// Header and overlay texts: the rows of a header of 1,000 elements (built, not shown),
// loading the shipped Tag.csv and VR.csv as start-up does, and the corner texts of one
// pane with the shipped CT group (about fifteen items formatted).
#include <benchmark/benchmark.h>

#include <string>

#include "base/install.h"
#include "base/settings.h"
#include "header/dictionary.h"
#include "header/header_rows.h"
#include "render/overlay.h"
#include "support/dicom_writer.h"

namespace {

const std::string& Bin() {
  static const std::string bin = std::string(VELMO_BIN_DIR) + "/";
  return bin;
}

const velmo::Dictionaries& Dictionary() {
  static const velmo::Dictionaries d = [] {
    velmo::Dictionaries x;
    velmo::LoadDictionaries(Bin(), x, velmo::Log::Null(), nullptr);
    return x;
  }();
  return d;
}

// A header of 1,000 elements: public text and number elements, sequences of items
// and a private block, as a large enhanced or RT header has them.
velmo::test::Bytes ThousandElements() {
  using velmo::test::DicomWriter;
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "ISO_IR 100");
  int n = 1;
  w.BeginSequence(0x5200, 0x9230, true);
  while (n < 990) {
    w.BeginItem(true);
    w.Text(0x0020, 0x0032, "DS", "-125.000\\-125.000\\" + std::to_string(n));
    w.Text(0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0");
    w.U16s(0x0028, 0x0010, {512});
    w.Text(0x0018, 0x0050, "DS", "1.25");
    w.Text(0x0010, 0x0010, "PN", "Yamada^Tarou");
    w.Text(0x0019, 0x1010, "LO", "private");
    w.F64(0x0018, 0x9306, 0.625);
    w.EndItem();
    n += 9;
  }
  w.EndSequence();
  while (n < 1000) {
    w.Text(0x0008, 0x1030, "LO", "Study");
    ++n;
  }
  w.PixelData(velmo::test::Bytes(16, 0));
  return velmo::test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

void BM_HeaderRows1000(benchmark::State& state) {
  const velmo::test::Bytes file = ThousandElements();
  size_t rows = 0;
  for (auto _ : state) {
    const auto r = velmo::BuildHeaderRows(file.data(), file.size(), 132, static_cast<int64_t>(file.size()), 1,
                                          Dictionary(), {});
    rows = r.size();
    benchmark::DoNotOptimize(r.data());
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_HeaderRows1000)->Unit(benchmark::kMillisecond);

void BM_LoadDictionaries(benchmark::State& state) {
  for (auto _ : state) {
    velmo::Dictionaries d;
    velmo::LoadDictionaries(Bin(), d, velmo::Log::Null(), nullptr);
    benchmark::DoNotOptimize(d.tags.firstLine.size());
  }
}
BENCHMARK(BM_LoadDictionaries)->Unit(benchmark::kMillisecond);

void BM_OverlayTextsOfOnePane(benchmark::State& state) {
  using velmo::test::DicomWriter;
  DicomWriter w(1);
  w.Text(0x0008, 0x0005, "CS", "\\ISO 2022 IR 87")
      .Text(0x0008, 0x0020, "DA", "20240115")
      .Text(0x0008, 0x0030, "TM", "091500")
      .Text(0x0008, 0x0060, "CS", "CT")
      .Text(0x0008, 0x0080, "LO", "Hospital")
      .Text(0x0008, 0x1090, "LO", "Scanner")
      .Text(0x0010, 0x0010, "PN", "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B")
      .Text(0x0010, 0x0020, "LO", "ID0001")
      .Text(0x0010, 0x0040, "CS", "M")
      .Text(0x0010, 0x1010, "AS", "058Y")
      .Text(0x0018, 0x0050, "DS", "5.000")
      .Text(0x0018, 0x0060, "DS", "120")
      .Text(0x0018, 0x1151, "IS", "200")
      .Text(0x0018, 0x1210, "SH", "STANDARD")
      .Text(0x0020, 0x0011, "IS", "3")
      .Text(0x0020, 0x0013, "IS", "17")
      .Text(0x0020, 0x1041, "DS", "-100.00")
      .PixelData(velmo::test::Bytes(16, 0));
  velmo::DicomImage im;
  im.headerCopy = velmo::test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
  im.preambleSize = 132;
  im.datasetOffset = 132 + static_cast<int32_t>(velmo::test::MakeMetaGroup("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.2").size());
  im.headerSize = static_cast<int32_t>(im.headerCopy.size());
  im.syntaxType = 1;
  im.loaded = 1;
  im.modality = "CT";
  velmo::SetInstallFolder(Bin());
  const velmo::Settings settings = velmo::Settings::LoadFrom(Bin() + "Config/Velmo.ini");
  velmo::OverlayConfig config;
  velmo::LoadOverlayGroups(settings, Bin(), config, velmo::Log::Null());
  velmo::LoadCornerFiles(Bin(), config, velmo::Log::Null(), nullptr);
  velmo::FormatSettings format;
  format.japaneseEra = true;
  format.nameKeywords[0] = "IR 87";
  velmo::OverlayInput in;
  in.image = &im;
  size_t lines = 0;
  for (auto _ : state) {
    const velmo::OverlayTexts t =
        velmo::LayOutOverlay(config, velmo::SelectOverlayGroup(config, im), in, Dictionary(), format);
    lines = t.corners[0].size() + t.corners[1].size() + t.corners[2].size() + t.corners[3].size();
    benchmark::DoNotOptimize(t.corners[0].data());
  }
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_OverlayTextsOfOnePane)->Unit(benchmark::kMicrosecond);

}  // namespace
