#include "shell/ui/fonts.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace velmo::ui {

QString ListFontFamily() { return QString::fromUtf8("ＭＳ Ｐゴシック"); }

QString InstallJapaneseFonts() {
  QString family = "IPAPGothic";
  if (!QFontDatabase::families().contains(family)) {
    // Fontconfig normally knows the font; register the file directly when it does not.
    const QStringList candidates = {"/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf",
                                    "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf"};
    for (const QString& path : candidates) {
      if (!QFile::exists(path)) continue;
      const int id = QFontDatabase::addApplicationFont(path);
      const QStringList names = QFontDatabase::applicationFontFamilies(id);
      if (!names.isEmpty()) {
        family = names.first();
        break;
      }
    }
  }
  QFont::insertSubstitution(ListFontFamily(), family);
  QFont font(family);
  font.setPointSize(9);
  QApplication::setFont(font);
  return family;
}

}  // namespace velmo::ui
