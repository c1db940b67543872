#pragma once
// A private installation folder for GUI tests: the staged Config, Master and Icon
// folders copied whole (overlay group folders included), and Config/Velmo.ini written
// from the source tree's defaults with the given replacements, in Shift-JIS.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/install.h"
#include "base/text.h"
#include "support/test_util.h"

namespace velmo::ui::testing {

// Fills `home` and makes it the current installation folder. Each (from, to) pair
// replaces the first `from` of the default Velmo.ini text (UTF-8); `edit` may change
// the text further. False when the defaults cannot be read.
inline bool MakeUiInstallation(const QString& home, const std::vector<std::pair<std::string, std::string>>& replacements,
                               const std::function<void(std::string&)>& edit = {}) {
  const QString bin = QStringLiteral(VELMO_BIN_DIR);
  for (const char* sub : {"Config", "Master", "Icon"}) {
    const QString from = bin + "/" + sub, to = home + "/" + sub;
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      const QString target = to + "/" + QDir(from).relativeFilePath(path);
      QDir().mkpath(QFileInfo(target).path());
      QFile::copy(path, target);
    }
  }
  QFile ini(QStringLiteral(VELMO_SOURCE_DIR) + "/data/Config/Velmo.ini.utf8");
  if (!ini.open(QIODevice::ReadOnly)) return false;
  std::string text = ini.readAll().toStdString();
  for (const auto& [from, to] : replacements) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
  }
  if (edit) edit(text);
  test::WriteText((home + "/Config/Velmo.ini").toStdString(), SjisFromUtf8(text));
  SetInstallFolder(home.toStdString() + "/");
  return true;
}

}  // namespace velmo::ui::testing
