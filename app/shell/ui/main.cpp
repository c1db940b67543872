// velmo [--screenshot OUT.png] [PATH...]
// velmo --print-pdf OUT.pdf [--layout CxR] PATH...
//
// With --screenshot the window starts, takes in the paths, waits until the lists are
// built and both panes are painted, saves a picture of the main window and exits 0.
// With --print-pdf it starts the same way, puts the images of the list in order into
// the frames of the layout (default: the saved "コマ数"), prints that page with the
// saved "印刷" settings to OUT.pdf and exits (0 printed, 1 nothing printed).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "base/install.h"
#include "base/ui/qt_text.h"
#include "shell/print_layout.h"
#include "shell/ui/fonts.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"
#include "shell/ui/print_preview.h"
#include "pacs/pacs.h"
#include "shell/png_file.h"

namespace {

// The window as it is now, as a PNG file (or in any other format Qt writes, by the
// file name's extension).
bool SaveScreenshot(QWidget& window, const QString& path) {
  if (!path.endsWith(".png", Qt::CaseInsensitive)) return window.grab().save(path);
  const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB888);
  return velmo::WritePngFile(QFile::encodeName(path).toStdString(), picture.constBits(), picture.width(), picture.height(), 3,
                             static_cast<size_t>(picture.bytesPerLine()), 1, true);
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts (setenv is not thread-safe): archive associations
  // without Nagle's delay.
  velmo::pacs::EnableNoDelay();
  QApplication app(argc, argv);
  velmo::SetInstallFolder(velmo::ResolveInstallFolder(argc > 0 ? argv[0] : nullptr));
  velmo::ui::InstallJapaneseFonts();

  QString screenshot, printPdf, layout;
  std::vector<std::string> paths;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" || args[i] == "--print-pdf" || args[i] == "--layout") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr,
                     "usage: velmo [--screenshot OUT.png] [PATH...]\n"
                     "       velmo --print-pdf OUT.pdf [--layout CxR] PATH...\n");
        return 2;
      }
      QString& target = args[i] == "--screenshot" ? screenshot : args[i] == "--print-pdf" ? printPdf : layout;
      target = args[++i];
      continue;
    }
    paths.push_back(args[i].toStdString());
  }
  if (!layout.isEmpty() && velmo::LayoutIndex(velmo::ui::ToSjis(layout)) < 0) {
    std::fprintf(stderr, "velmo: unknown layout %s (one of 1x1 .. 4x3, columns x rows)\n", qPrintable(layout));
    return 2;
  }

  velmo::ui::MainDialog window(paths);
  if (!window.initialised()) return 1;  // start-up failed and said why
  const bool batch = !screenshot.isEmpty() || !printPdf.isEmpty();
  if (batch) static_cast<velmo::ui::MessageNotifier&>(window.notifier()).SetUnattended(true);
  window.show();
  if (!batch) return app.exec();

  // Wait for the start-up intake (lists built, first entry shown), then let both
  // panes paint and take the picture.
  int status = 0;
  QElapsedTimer clock;
  clock.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const bool timedOut = clock.elapsed() > 120000;
    if (!window.startupIntakeDone() && !timedOut) return;
    poll.stop();
    if (timedOut) std::fprintf(stderr, "velmo: the start-up intake did not finish; taking the picture anyway\n");
    window.repaint();  // both panes paint now
    QApplication::processEvents();
    if (!printPdf.isEmpty()) {
      status = velmo::ui::PrintPdfBatch(window, printPdf, layout);
      if (status != 0) std::fprintf(stderr, "velmo: nothing printed to %s\n", qPrintable(printPdf));
    }
    // Light compression (zlib level 1, one filter for every row): the picture is
    // written in a few milliseconds instead of a tenth of a second, a little larger.
    if (!screenshot.isEmpty() && !SaveScreenshot(window, screenshot)) {
      std::fprintf(stderr, "velmo: cannot write %s\n", qPrintable(screenshot));
      status = 1;
    }
    app.exit(status);
  });
  poll.start(20);
  return app.exec();
}
