#pragma once
// The one crossing between core text (Shift-JIS bytes) and Qt's QString. Every widget
// that shows or takes core text converts here, so undecodable bytes become U+FFFD the
// same way everywhere.
#include <QString>
#include <string>
#include <string_view>

#include "base/text.h"

namespace velmo::ui {

// Shift-JIS bytes -> QString (each undecodable byte shows as U+FFFD).
inline QString FromSjis(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }
// QString -> Shift-JIS bytes (characters Shift-JIS cannot hold become '?').
inline std::string ToSjis(const QString& text) { return SjisFromUtf8(text.toStdString()); }

}  // namespace velmo::ui
