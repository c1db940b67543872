#pragma once
// Shared by the window/level and CINE GUI tests: a private installation folder (a copy
// of the staged Config and Icon folders, so Preset.csv and the log can be written
// freely), the sample study written by velmo-sample, and a main window that has taken
// the study in.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>
#include <utility>

#include "base/install.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui::testing {

inline bool CopyTree(const QString& from, const QString& to) {
  QDir().mkpath(to);
  QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString target = to + "/" + QDir(from).relativeFilePath(path);
    if (it.fileInfo().isDir()) {
      QDir().mkpath(target);
    } else if (!QFile::copy(path, target)) {
      return false;
    }
  }
  return true;
}

// A temporary installation with the sample study in "sample/". `error` says why it
// could not be made (then the test skips).
struct Installation {
  QTemporaryDir dir;
  QString sample;
  QString error;

  Installation() {
    const QString bin = QCoreApplication::applicationDirPath();
    if (!dir.isValid()) {
      error = "no temporary folder";
      return;
    }
    if (!QFile::exists(bin + "/Config/Velmo.ini") || !CopyTree(bin + "/Config", dir.path() + "/Config") ||
        !CopyTree(bin + "/Icon", dir.path() + "/Icon")) {
      error = "no staged Config/Icon next to " + bin;
      return;
    }
    sample = dir.path() + "/sample";
    const QString tool = bin + "/velmo-sample";
    if (!QFile::exists(tool)) {
      error = "velmo-sample is not built";
      return;
    }
    QProcess run;
    run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.start(tool, {sample});
    if (!run.waitForFinished(60000) || run.exitCode() != 0 || !QFile::exists(sample + "/MF0001.dcm")) {
      error = "velmo-sample failed";
      return;
    }
    SetInstallFolder(dir.path().toStdString() + "/");
  }
  QString PresetPath() const { return dir.path() + "/Config/Preset.csv"; }
};

// A shown main window that has taken in the sample study.
inline std::unique_ptr<MainDialog> OpenWithSample(const Installation& inst) {
  auto dlg = std::make_unique<MainDialog>(std::vector<std::string>{inst.sample.toStdString()});
  if (!dlg->initialised()) return nullptr;
  dlg->resize(1200, 900);
  dlg->show();
  if (!QTest::qWaitFor([&] { return dlg->startupIntakeDone(); }, 30000)) return nullptr;
  // A short start-up job shows no progress window, so no event loop has run yet.
  if (!QTest::qWaitForWindowExposed(dlg.get())) return nullptr;
  return dlg;
}

// The file-table entry of the sample file `name` (for example "MF0001.dcm"), or -1.
inline int EntryOf(MainDialog& dlg, const char* name) {
  const auto& records = dlg.loadContext().records;
  for (size_t i = 0; i < records.size(); ++i)
    if (QString::fromStdString(records[i].filePath).endsWith(QString("/") + name)) return static_cast<int>(i);
  return -1;
}

// Paints a pane now and returns what it shows (null when it painted black).
inline QImage Painted(MainDialog& dlg, int pane) {
  QWidget* view = dlg.findChild<QWidget*>(pane == 1 ? "1001" : "1005");
  if (view == nullptr) return QImage();
  view->repaint();
  return dlg.Snapshot(pane);
}

inline double MeanGrey(const QImage& image) {
  if (image.isNull()) return -1;
  double sum = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) sum += qGray(image.pixel(x, y));
  return sum / (double(image.width()) * image.height());
}

// Sends one mouse event at `pos` (widget coordinates) to `view`.
inline void SendMouse(QWidget* view, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, QPointF(pos), view->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(view, &e);
}

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace velmo::ui::testing
