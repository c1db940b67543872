// velmo [--screenshot OUT.png] [PATH...]
//
// With --screenshot the window starts, takes in the paths, waits until the lists are
// built and both panes are painted, saves a picture of the main window and exits 0.
#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "base/install.h"
#include "shell/ui/fonts.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  velmo::SetInstallFolder(velmo::ResolveInstallFolder(argc > 0 ? argv[0] : nullptr));
  velmo::ui::InstallJapaneseFonts();

  QString screenshot;
  std::vector<std::string> paths;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "usage: velmo [--screenshot OUT.png] [PATH...]\n");
        return 2;
      }
      screenshot = args[++i];
      continue;
    }
    paths.push_back(args[i].toStdString());
  }

  velmo::ui::MainDialog window(paths);
  if (!window.initialised()) return 1;  // start-up failed and said why
  if (!screenshot.isEmpty())
    static_cast<velmo::ui::MessageNotifier&>(window.notifier()).SetUnattended(true);
  window.show();
  if (screenshot.isEmpty()) return app.exec();

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
    // Light compression (zlib level 1): the picture is written in a few milliseconds
    // instead of a tenth of a second at the default level, and is only a little larger.
    if (!window.grab().save(screenshot, nullptr, 80)) {
      std::fprintf(stderr, "velmo: cannot write %s\n", qPrintable(screenshot));
      status = 1;
    }
    app.exit(status);
  });
  poll.start(20);
  return app.exec();
}
