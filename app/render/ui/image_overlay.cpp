#include "render/ui/image_overlay.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include "base/install.h"
#include "base/text.h"
#include "header/ui/header_lists.h"

namespace velmo::ui {

namespace {

QString Q(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }

}  // namespace

ImageOverlay::ImageOverlay(ImageOverlayHost host, const HeaderLists* headerLists, QObject* parent)
    : QObject(parent), host_(std::move(host)), headerLists_(headerLists) {}

void ImageOverlay::Reload() const {
  loaded_ = true;
  const Settings& s = *host_.settings;
  format_.japaneseEra = s.JapaneseEra();
  for (int i = 0; i < 3; ++i) format_.nameKeywords[i] = std::string(Settings::CharsetKeyword(s.NamePriority(i)));
  LoadOverlayGroups(s, InstallFolder(), config_, *host_.log);
  LoadCornerFiles(InstallFolder(), config_, *host_.log, host_.notifier);
}

OverlayTexts ImageOverlay::Texts(int pane) const {
  if (!loaded_) Reload();
  OverlayInput in;
  in.image = host_.paneImage(pane);
  const PaneDisplay& pd = host_.paneDisplay(pane);
  in.blocked = pane == 2 && pd.showsReformat;
  in.overlayLevel = host_.overlayLevel();
  in.rotated = pd.rotationAngle != 0;
  in.orientationHorizontal = pd.labelHorizontal.str();
  in.orientationVertical = pd.labelVertical.str();
  if (headerLists_ && headerLists_->rowSelected(pane)) {
    in.selectionCaption = headerLists_->selectionCaption(pane);
    in.selectionValue = headerLists_->selectedValue(pane);
  }
  const Dictionaries empty;
  const int group = in.image ? SelectOverlayGroup(config_, *in.image) : 0;
  return LayOutOverlay(config_, group, in, headerLists_ ? headerLists_->dictionaries() : empty, format_,
                       *host_.log);
}

void ImageOverlay::DrawOverlay(int pane, QPainter& painter) const {
  const int level = host_.overlayLevel();
  if (level < 0 || level > 1) return;
  const OverlayTexts t = Texts(pane);
  const Settings& s = *host_.settings;
  QFont font(Q(s.overlayFont));
  font.setPointSizeF(s.overlayFontSize > 0 ? s.overlayFontSize : 10);
  painter.setFont(font);
  const QFontMetrics fm(font, painter.device());
  const int lineHeight = fm.height();
  const int ascent = fm.ascent();
  const uint32_t c = s.overlayColor;
  const QColor colour(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
  const int width = painter.device()->width(), height = painter.device()->height();

  // Every text twice: black one pixel right and down, then the overlay colour.
  auto draw = [&](int x, int top, const QString& text, bool alignRight) {
    if (text.isEmpty()) return;
    if (alignRight) x -= fm.horizontalAdvance(text);
    painter.setPen(Qt::black);
    painter.drawText(x + 1, top + ascent + 1, text);
    painter.setPen(colour);
    painter.drawText(x, top + ascent, text);
  };
  auto column = [&](const std::vector<std::string>& lines, int x, bool fromTop, bool alignRight) {
    const int n = static_cast<int>(lines.size());
    for (int k = 0; k < n; ++k) {
      const int top = fromTop ? 5 + k * lineHeight : height - 5 - (n - k) * lineHeight;
      draw(x, top, Q(lines[static_cast<size_t>(k)]), alignRight);
    }
  };
  std::vector<std::string> upperLeft = t.corners[kUpLeft];
  if (!t.selectionCaption.empty()) {
    upperLeft.emplace_back();
    upperLeft.push_back(t.selectionCaption);
    upperLeft.push_back(t.selectionValue);
  }
  column(upperLeft, 5, true, false);
  column(t.corners[kUpRight], width - 5, true, true);
  std::vector<std::string> lowerLeft = t.corners[kDownLeft];
  lowerLeft.insert(lowerLeft.end(), t.levelWidth.begin(), t.levelWidth.end());
  column(lowerLeft, 5, false, false);
  column(t.corners[kDownRight], width - 5, false, true);
  if (!t.orientationHorizontal.empty()) draw(width - 5, height / 2 - lineHeight / 2, Q(t.orientationHorizontal), true);
  if (!t.orientationVertical.empty()) {
    const QString v = Q(t.orientationVertical);
    draw(width / 2 - fm.horizontalAdvance(v) / 2, height - 5 - lineHeight, v, false);
  }
}

}  // namespace velmo::ui
