#include "shell/ui/print_preview.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>

#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"
#include "base/ui/qt_text.h"
#include "browser/study_tree.h"
#include "render/ui/pane_view.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QPageSize::PageSizeId PageSizeOfCode(int code) {
  switch (code) {
    case 8: return QPageSize::A3;
    case 11: return QPageSize::A5;
    case 12: return QPageSize::JisB4;
    case 13: return QPageSize::JisB5;
    case 43: return QPageSize::Postcard;
    default: return QPageSize::A4;
  }
}

int CodeOfPageSize(QPageSize::PageSizeId id) {
  switch (id) {
    case QPageSize::A3: return 8;
    case QPageSize::A5: return 11;
    case QPageSize::JisB4: return 12;
    case QPageSize::JisB5: return 13;
    case QPageSize::Postcard: return 43;
    default: return 9;
  }
}

// The sheet in millimetres, turned as the orientation says.
QSizeF SheetMm(const PrintSettings& s) {
  QSizeF size = QPageSize(PageSizeOfCode(PaperCode(s.paper))).size(QPageSize::Millimeter);
  if (OrientationCode(s.orientation) == 2) size.transpose();
  return size;
}

QRect ToQRect(const PixelRect& r) {
  return QRect(static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.width), static_cast<int>(r.height));
}

void DrawFitted(QPainter& painter, const PixelRect& frame, const QImage& image, QPoint origin = {}) {
  if (image.isNull()) return;
  const PixelRect fit = FitInFrame(frame, image.width(), image.height());
  if (fit.Empty()) return;
  painter.drawImage(ToQRect(fit).translated(origin), image);
}

}  // namespace

// ---- printing ----

void ApplyPageSetup(QPrinter& printer, const PrintSettings& s) {
  printer.setPageSize(QPageSize(PageSizeOfCode(PaperCode(s.paper))));
  printer.setPageOrientation(OrientationCode(s.orientation) == 2 ? QPageLayout::Landscape : QPageLayout::Portrait);
  printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  printer.setFullPage(false);
}

void ReadPageSetup(const QPrinter& printer, PrintSettings* s) {
  const QPageLayout layout = printer.pageLayout();
  const std::string paper = PaperName(CodeOfPageSize(layout.pageSize().id()));
  s->paper = paper.empty() ? SJ("A4") : paper;
  s->orientation = layout.orientation() == QPageLayout::Landscape ? SJ("横") : SJ("縦");
  const QMarginsF m = layout.margins(QPageLayout::Millimeter);
  auto hundredths = [](double mm) { return TruncToInt32(mm * 100.0 + 0.5); };
  s->marginLeft = hundredths(m.left());
  s->marginTop = hundredths(m.top());
  s->marginRight = hundredths(m.right());
  s->marginBottom = hundredths(m.bottom());
}

bool PrintFrames(QPrinter& printer, const PrintSettings& s, FrameLayout layout, const PrintFrameImages& frames) {
  const int res = printer.resolution();
  const QPageLayout pl = printer.pageLayout();
  const QRect full = pl.fullRectPixels(res);
  const QRect paint = printer.fullPage() ? full : pl.paintRectPixels(res);
  PrintDevice device;
  device.dpiX = printer.logicalDpiX();
  device.dpiY = printer.logicalDpiY();
  device.physicalWidth = full.width();
  device.physicalHeight = full.height();
  device.offsetX = paint.left() - full.left();
  device.offsetY = paint.top() - full.top();
  const PageGeometry g = ComputePageGeometry(device, s, layout);
  if (g.Empty()) return false;  // an empty printable area prints nothing

  printer.setDocName(U("画像印刷"));
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  if (s.blackBackground) painter.fillRect(ToQRect(g.area), Qt::black);
  for (int k = 0; k < layout.Count() && k < kPrintFrames; ++k) DrawFitted(painter, g.Frame(k), frames[k]);
  return painter.end();
}

// ---- the page picture of the preview and its frames ----

class FrameView : public QWidget {
 public:
  FrameView(PrintPreview* preview, int k, QWidget* parent) : QWidget(parent), preview_(preview), k_(k) {
    setObjectName(QString::number(1221 + k));
    setAcceptDrops(true);
  }

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (e->mimeData()->hasImage()) e->acceptProposedAction();
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    if (e->mimeData()->hasImage()) e->acceptProposedAction();
  }
  void dropEvent(QDropEvent* e) override {
    const QImage image = qvariant_cast<QImage>(e->mimeData()->imageData());
    if (image.isNull()) return;
    preview_->SetFrame(k_, image);
    e->acceptProposedAction();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QImage& image = preview_->frames()[k_];
    DrawFitted(p, PixelRect{0, 0, width(), height()}, image);
    p.setPen(QPen(QColor(160, 160, 160), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  PrintPreview* preview_;
  int k_;
};

class PagePicture : public QWidget {
 public:
  explicit PagePicture(PrintPreview* preview) : QWidget(preview), preview_(preview) {
    setObjectName("page");
    setMinimumSize(300, 380);
    for (int k = 0; k < kPrintFrames; ++k) frames_[k] = new FrameView(preview, k, this);
  }
  // The page scaled into the widget: the sheet, the printable area and the frames.
  void Arrange() {
    const PrintSettings s = preview_->CurrentSettings();
    const QSizeF mm = SheetMm(s);
    const double scale = std::min((width() - 8) / mm.width(), (height() - 8) / mm.height());  // pixels per mm
    PrintDevice device;
    device.dpiX = device.dpiY = scale * 25.4;
    device.physicalWidth = static_cast<int64_t>(mm.width() * scale);
    device.physicalHeight = static_cast<int64_t>(mm.height() * scale);
    sheet_ = QRect(static_cast<int>((width() - device.physicalWidth) / 2),
                   static_cast<int>((height() - device.physicalHeight) / 2), static_cast<int>(device.physicalWidth),
                   static_cast<int>(device.physicalHeight));
    geometry_ = ComputePageGeometry(device, s, preview_->CurrentLayout());
    for (int k = 0; k < kPrintFrames; ++k) {
      const PixelRect r = geometry_.Frame(k);
      frames_[k]->setVisible(!r.Empty());
      if (!r.Empty()) frames_[k]->setGeometry(ToQRect(r).translated(sheet_.topLeft()));
    }
    update();
  }
  QRect FrameRect(int k) const {
    const PixelRect r = geometry_.Frame(k);
    return r.Empty() ? QRect() : ToQRect(r).translated(sheet_.topLeft());
  }
  void RepaintFrames() {
    update();
    for (FrameView* f : frames_) f->update();
  }

 protected:
  void resizeEvent(QResizeEvent*) override { Arrange(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(128, 128, 128));
    p.fillRect(sheet_, Qt::white);
    if (preview_->CurrentSettings().blackBackground && !geometry_.area.Empty())
      p.fillRect(ToQRect(geometry_.area).translated(sheet_.topLeft()), Qt::black);
  }

 private:
  PrintPreview* preview_;
  std::array<FrameView*, kPrintFrames> frames_{};
  QRect sheet_;
  PageGeometry geometry_;
};

// ---- the preview window ----

PrintPreview::PrintPreview(MainDialog* main) : QDialog(main), main_(main), printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  setObjectName("142");
  setWindowTitle(U("印刷ﾌﾟﾚﾋﾞｭｰ"));
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose);
  stored_ = Settings::Load().print;
  ApplyPageSetup(*printer_, stored_);

  layoutBox = new QComboBox(this);
  layoutBox->setObjectName("1233");
  for (const std::string& name : LayoutNames()) layoutBox->addItem(FromSjis(name));
  layoutBox->setCurrentIndex(std::max(LayoutIndex(stored_.layout), 0));
  headerEdit = new QLineEdit(QString::number(stored_.header), this);
  headerEdit->setObjectName("1234");
  footerEdit = new QLineEdit(QString::number(stored_.footer), this);
  footerEdit->setObjectName("1235");
  for (QLineEdit* e : {headerEdit, footerEdit}) e->setMaximumWidth(60);
  blackBox = new QCheckBox(U("背景を黒"), this);
  blackBox->setObjectName("1236");
  blackBox->setChecked(stored_.blackBackground);
  pageSetupButton = new QPushButton(U("印刷ﾍﾟｰｼﾞ設定"), this);
  pageSetupButton->setObjectName("1220");
  printButton = new QPushButton(U("印刷"), this);
  printButton->setObjectName("1");
  cancelButton = new QPushButton(U("ｷｬﾝｾﾙ"), this);
  cancelButton->setObjectName("2");
  page = new PagePicture(this);

  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(U("コマ数"), this));
  controls->addWidget(layoutBox);
  controls->addWidget(new QLabel(U("ﾍｯﾀﾞｰ"), this));
  controls->addWidget(headerEdit);
  controls->addWidget(new QLabel(U("ﾌｯﾀｰ"), this));
  controls->addWidget(footerEdit);
  controls->addWidget(blackBox);
  controls->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pageSetupButton);
  buttons->addStretch(1);
  buttons->addWidget(printButton);
  buttons->addWidget(cancelButton);
  auto* v = new QVBoxLayout(this);
  v->addLayout(controls);
  v->addWidget(page, 1);
  v->addLayout(buttons);
  resize(520, 700);

  connect(layoutBox, &QComboBox::currentIndexChanged, this, [this] { page->Arrange(); });
  connect(headerEdit, &QLineEdit::textChanged, this, [this] { page->Arrange(); });
  connect(footerEdit, &QLineEdit::textChanged, this, [this] { page->Arrange(); });
  connect(blackBox, &QCheckBox::toggled, this, [this] { page->Arrange(); });
  connect(pageSetupButton, &QPushButton::clicked, this, [this] { PageSetup(); });
  connect(printButton, &QPushButton::clicked, this, [this] { PrintNow(); });
  connect(cancelButton, &QPushButton::clicked, this, [this] { close(); });
  main_->log().Write(SJ("印刷プレビューを開きました"), kLogNormal, 3);
}

PrintPreview::~PrintPreview() = default;

PrintSettings PrintPreview::CurrentSettings() const {
  PrintSettings s = stored_;
  s.header = ParseInt(headerEdit->text().toStdString());
  s.footer = ParseInt(footerEdit->text().toStdString());
  s.blackBackground = blackBox->isChecked();
  s.layout = LayoutNames()[static_cast<size_t>(std::clamp(layoutBox->currentIndex(), 0, 14))];
  return s;
}

FrameLayout PrintPreview::CurrentLayout() const { return LayoutAt(layoutBox->currentIndex()); }

QRect PrintPreview::FrameRect(int k) const { return page->FrameRect(k); }

void PrintPreview::SetFrame(int k, const QImage& image) {
  if (k < 0 || k >= kPrintFrames) return;
  frames_[k] = image.copy();
  page->RepaintFrames();
}

void PrintPreview::Release() {
  for (QImage& f : frames_) f = QImage();
  page->RepaintFrames();
}

void PrintPreview::PageSetup() {
  printer_->setPageMargins(QMarginsF(stored_.marginLeft / 100.0, stored_.marginTop / 100.0,
                                     stored_.marginRight / 100.0, stored_.marginBottom / 100.0),
                           QPageLayout::Millimeter);
  QPageSetupDialog dialog(printer_.get(), this);
  const bool ok = dialog.exec() == QDialog::Accepted;
  if (ok) {
    ReadPageSetup(*printer_, &stored_);
    Settings::SavePrint(stored_);
  }
  ApplyPageSetup(*printer_, stored_);
  page->Arrange();
}

bool PrintPreview::PrintNow() {
  const PrintSettings s = CurrentSettings();
  stored_.header = s.header;
  stored_.footer = s.footer;
  stored_.blackBackground = s.blackBackground;
  stored_.layout = s.layout;
  Settings::SavePrint(stored_);
  bool any = false;
  for (const QImage& f : frames_) any |= !f.isNull();
  if (!any) return false;
  ApplyPageSetup(*printer_, stored_);
  if (printDialogOverride) {
    if (!printDialogOverride(*printer_)) return false;
  } else {
    QPrintDialog dialog(printer_.get(), this);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  if (!PrintFrames(*printer_, s, CurrentLayout(), frames_)) {
    main_->log().Write(SJ("印刷できませんでした"), kLogWarning, 1);
    return false;
  }
  main_->log().Write(SJ("印刷しました"), kLogNormal, 2);
  Release();
  close();
  return true;
}

void PrintPreview::closeEvent(QCloseEvent* event) {
  Release();
  QDialog::closeEvent(event);
}

// ---- the print button and the snapshot drag ----

PrintTool::PrintTool(MainDialog* main) : QObject(main), main_(main) {
  connect(main->printButton, &QToolButton::clicked, this, [this] { Open(); });
  main->leftPane->installEventFilter(this);
  main->rightPane->installEventFilter(this);
}

PrintPreview* PrintTool::Open() {
  if (preview_) {
    preview_->raise();
    preview_->activateWindow();
    return preview_;
  }
  preview_ = new PrintPreview(main_);
  preview_->show();
  return preview_;
}

// While the preview is open a press on a pane belongs to the drag of its snapshot: no
// tool acts. The drag starts once the mouse has left the press neighbourhood.
bool PrintTool::eventFilter(QObject* watched, QEvent* event) {
  if (!preview_ || !preview_->isVisible()) return false;
  const int pane = watched == main_->leftPane ? 1 : watched == main_->rightPane ? 2 : 0;
  if (pane == 0) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton) return false;
      pressPane_ = pane;
      pressPos_ = e->position().toPoint();
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (pressPane_ != pane || !(e->buttons() & Qt::LeftButton)) return pressPane_ != 0;
      if ((e->position().toPoint() - pressPos_).manhattanLength() < QApplication::startDragDistance()) return true;
      pressPane_ = 0;
      const QImage& snapshot = main_->Snapshot(pane);
      if (snapshot.isNull()) return true;
      auto* data = new QMimeData;
      data->setImageData(snapshot.copy());
      auto* drag = new QDrag(static_cast<QWidget*>(watched));
      drag->setMimeData(data);
      drag->setPixmap(QPixmap::fromImage(snapshot.scaled(96, 96, Qt::KeepAspectRatio)));
      drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
      return true;
    }
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
      const bool ours = pressPane_ != 0 || event->type() == QEvent::MouseButtonDblClick;
      if (event->type() == QEvent::MouseButtonRelease) pressPane_ = 0;
      return ours;
    }
    default:
      return false;
  }
}

// ---- velmo --print-pdf ----

int PrintPdfBatch(MainDialog& main, const QString& outPdf, const QString& layoutName) {
  PrintSettings settings = Settings::Load().print;
  FrameLayout layout = LayoutFromSetting(settings.layout);
  if (!layoutName.isEmpty()) {
    const int index = LayoutIndex(ToSjis(layoutName));
    if (index < 0) return 2;
    layout = LayoutAt(index);
    settings.layout = LayoutNames()[static_cast<size_t>(index)];
  }
  PrintFrameImages frames;
  main.SetListLevel(3);  // one row per image, in list order
  StudyTree& tree = main.studyTree();
  const int count = std::min(tree.RowCount(), std::min(layout.Count(), kPrintFrames));
  if (tree.RowCount() > count)
    std::fprintf(stderr, "velmo: %d images, the layout holds %d; the rest are not printed\n", tree.RowCount(), count);
  main.SetActivePane(1);
  bool any = false;
  for (int row = 0; row < count; ++row) {
    main.ShowEntry(1, tree.EntryOfRow(row));
    main.leftPane->repaint();
    frames[row] = main.Snapshot(1).copy();
    any |= !frames[row].isNull();
  }
  if (!any) return 1;  // like the preview: no page without a picture
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(outPdf);
  ApplyPageSetup(printer, settings);
  return PrintFrames(printer, settings, layout, frames) ? 0 : 1;
}

}  // namespace velmo::ui
