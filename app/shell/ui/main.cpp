// velmo [--screenshot OUT.png] [PATH...]
#include <QApplication>
#include <QStringList>
#include <QTimer>

#include "shell/install.h"
#include "shell/ui/main_window_stub.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  velmo::SetInstallFolder(velmo::ResolveInstallFolder(argc > 0 ? argv[0] : nullptr));
  QString screenshot;
  QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" && i + 1 < args.size()) screenshot = args[++i];
  }
  velmo::ui::StubWindow window(QString::fromUtf8("Velmo  ﾊﾞｰｼﾞｮﾝ %1").arg(VELMO_VERSION));
  window.show();
  if (!screenshot.isEmpty()) {
    QTimer::singleShot(200, [&] {
      window.grab().save(screenshot);
      app.quit();
    });
  }
  return app.exec();
}
