#pragma once
// Shared by the file-intake and list GUI tests: a private installation (a copy of the
// staged Config folder with the list level set to "画像"), and small CT-like studies
// whose images are each one flat grey, so a pane's pixels tell which file it shows.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "dicom/file_source.h"
#include "base/install.h"
#include "base/text.h"
#include "shell/ui/main_dialog.h"
#include "support/dicom_writer.h"
#include "support/test_util.h"

namespace velmo::ui::files_test {

// One image of a test study. Its pixels all hold `value`; with the file's window
// (centre 500, width 1000) the pane shows roughly value / 1000 * 255 grey.
struct TestImage {
  std::string patientId, studyUid, seriesUid, sopUid;
  int seriesNumber = 1;
  int instance = 1;
  uint16_t value = 0;
};

inline test::Bytes MakeImageFile(const TestImage& im) {
  test::DicomWriter w(1);
  const int side = 64;
  test::Bytes pixels(static_cast<size_t>(side * side * 2));
  for (size_t i = 0; i < pixels.size(); i += 2) {
    pixels[i] = static_cast<uint8_t>(im.value & 0xFF);
    pixels[i + 1] = static_cast<uint8_t>(im.value >> 8);
  }
  w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2")
      .Text(0x0008, 0x0018, "UI", im.sopUid)
      .Text(0x0008, 0x0020, "DA", "20200101")
      .Text(0x0008, 0x0060, "CS", "CT")
      .Text(0x0010, 0x0010, "PN", "Test^" + im.patientId)
      .Text(0x0010, 0x0020, "LO", im.patientId)
      .Text(0x0020, 0x000D, "UI", im.studyUid)
      .Text(0x0020, 0x000E, "UI", im.seriesUid)
      .Text(0x0020, 0x0011, "IS", std::to_string(im.seriesNumber))
      .Text(0x0020, 0x0013, "IS", std::to_string(im.instance))
      .U16(0x0028, 0x0002, 1)
      .Text(0x0028, 0x0004, "CS", "MONOCHROME2")
      .U16(0x0028, 0x0010, side)
      .U16(0x0028, 0x0011, side)
      .U16(0x0028, 0x0100, 16)
      .U16(0x0028, 0x0101, 12)
      .U16(0x0028, 0x0102, 11)
      .U16(0x0028, 0x0103, 0)
      .Text(0x0028, 0x1050, "DS", "500")
      .Text(0x0028, 0x1051, "DS", "1000")
      .PixelData(pixels);
  return test::MakeFile("1.2.840.10008.1.2.1", w.bytes());
}

// The study most tests use, 8 files. At the image level, sorted by patient ID, series
// number and instance number, row r shows the image of value kRowValue[r]:
//   rows 0-4  patient P1, series 1, instances 1-5 (values 100..500)
//   rows 5-6  patient P1, series 2, instances 1-2 (values 700, 800)
//   row  7    patient P2, series 1, instance 1   (value 900)
inline constexpr int kRowValue[8] = {100, 200, 300, 400, 500, 700, 800, 900};

inline void WriteStandardStudy(const std::string& folder) {
  QDir().mkpath(QString::fromStdString(folder + "/sub"));
  int n = 0;
  auto add = [&](const TestImage& im) {
    // Names in an order unrelated to the list order; one file in a subfolder.
    const std::string name = (n == 3 ? "sub/" : "") + std::string("f") + char('h' - n) + ".dcm";
    test::WriteBytes(folder + "/" + name, MakeImageFile(im));
    ++n;
  };
  for (int i = 1; i <= 5; ++i)
    add({"P1", "1.2.1", "1.2.1.1", "1.2.1.1." + std::to_string(i), 1, i, static_cast<uint16_t>(100 * i)});
  add({"P1", "1.2.1", "1.2.1.2", "1.2.1.2.1", 2, 1, 700});
  add({"P1", "1.2.1", "1.2.1.2", "1.2.1.2.2", 2, 2, 800});
  add({"P2", "1.2.2", "1.2.2.1", "1.2.2.1.1", 1, 1, 900});
}

// A series of `count` images (values 100 + i, instances 1..count).
inline void WriteSeries(const std::string& folder, int count) {
  QDir().mkpath(QString::fromStdString(folder));
  for (int i = 1; i <= count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/img%04d.dcm", i);
    test::WriteBytes(folder + name, MakeImageFile({"S", "1.3.1", "1.3.1.1", "1.3.1.1." + std::to_string(i), 1, i,
                                                   static_cast<uint16_t>(100 + i)}));
  }
}

// A private installation folder: the staged Config (next to the test executable),
// Velmo.ini from the source tree with the list level "画像" and separate display.
struct Installation {
  QTemporaryDir dir;
  QString error;

  Installation() {
    const QString bin = QStringLiteral(VELMO_BIN_DIR);
    const QString config = dir.path() + "/Config";
    QDir().mkpath(config);
    // The whole Config folder, overlay group folders included.
    QDirIterator it(bin + "/Config", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      const QString to = config + "/" + QDir(bin + "/Config").relativeFilePath(path);
      QDir().mkpath(QFileInfo(to).path());
      QFile::copy(path, to);
    }
    QFile ini(QStringLiteral(VELMO_SOURCE_DIR) + "/data/Config/Velmo.ini.utf8");
    if (!ini.open(QIODevice::ReadOnly)) {
      error = "no data/Config/Velmo.ini.utf8 in the source tree";
      return;
    }
    std::string text = ini.readAll().toStdString();
    auto set = [&text](const std::string& from, const std::string& to) {
      const size_t at = text.find(from);
      if (at != std::string::npos) text.replace(at, from.size(), to);
    };
    set("リスト=患者", "リスト=画像");
    set("画像の表示方法=結合表示", "画像の表示方法=分離表示");
    std::string crlf;
    for (char c : text) {
      if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
      crlf += c;
    }
    test::WriteText((config + "/Velmo.ini").toStdString(), SjisFromUtf8(crlf));
    SetInstallFolder(dir.path().toStdString() + "/");
  }
  std::string Folder(const char* name) const { return dir.path().toStdString() + "/" + name; }
};

// Grey of the centre of what a pane shows, after waiting for its paint; -1 when the
// pane shows no image.
inline int CentreGrey(MainDialog& d, int pane) {
  if (!QTest::qWaitFor([&] { return d.panePaintedImage(pane); }, 3000)) return -1;
  const QImage& img = d.Snapshot(pane);
  if (img.isNull()) return -1;
  return qGray(img.pixel(img.width() / 2, img.height() / 2));
}

// The grey a flat image of `value` is shown with under the window 500/1000.
inline int GreyOfValue(int value) { return static_cast<int>((value - 499.5) / 999.0 * 255.0 + 127.5 + 0.5); }

// True when the pane shows the image of `value` (neighbouring test values are 25
// grey levels apart).
inline bool Shows(MainDialog& d, int pane, int value) {
  const int grey = CentreGrey(d, pane);
  if (std::abs(grey - GreyOfValue(value)) <= 8) return true;
  qWarning("pane %d shows grey %d, expected %d (value %d)", pane, grey, GreyOfValue(value), value);
  return false;
}

// Reads from the disk, slowly: lets a test cancel a loading job half-way.
class SlowDisk final : public FileSource {
 public:
  explicit SlowDisk(int millisecondsPerFile) : delay_(millisecondsPerFile) {}
  FileStatus Stat(const std::string& path, uint64_t* size) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
    return DiskFileSource::Instance().Stat(path, size);
  }
  int64_t ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) override {
    return DiskFileSource::Instance().ReadPrefix(path, out, count);
  }

 private:
  int delay_;
};

}  // namespace velmo::ui::files_test
