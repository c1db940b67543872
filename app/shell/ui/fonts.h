#pragma once
// The window font: the system's Japanese dialog font "ＭＳ Ｐゴシック" is stood in for by
// IPAPGothic (Debian's fonts-ipafont-gothic).
#include <QString>

namespace velmo::ui {

// The family name the configuration uses for the list and overlay fonts.
QString ListFontFamily();
// Registers IPAPGothic (from the system font folders) and makes it the substitute for
// "ＭＳ Ｐゴシック" and the application's default font. Returns the family in use.
QString InstallJapaneseFonts();

}  // namespace velmo::ui
