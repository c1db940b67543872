#include "shell/ui/export_tool.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QImage>
#include <QMimeData>
#include <QToolButton>

#include "base/text.h"
#include "dicom/dicom_image.h"
#include "render/ui/pane_view.h"
#include "shell/export.h"
#include "shell/ui/main_dialog.h"

namespace velmo::ui {

ExportTool::ExportTool(MainDialog* main) : QObject(main), main_(main) {
  connect(main->copyScreenButton, &QToolButton::clicked, this, [this] { CopyScreen(); });
  connect(main->copyImageButton, &QToolButton::clicked, this, [this] { CopyImage(); });
  connect(main->saveScreenButton, &QToolButton::clicked, this, [this] { SaveScreen(); });
  connect(main->saveImageButton, &QToolButton::clicked, this, [this] { SaveImage(); });
}

std::vector<uint8_t> ExportTool::ScreenFileImage() {
  const int pane = main_->activePane();
  if (pane < 1 || pane > 2 || !main_->ShownImage(pane)) return {};
  PaneView* view = pane == 1 ? main_->leftPane : main_->rightPane;
  view->repaint();
  return SnapshotFileImage(SnapshotBlock(main_->Snapshot(pane)));
}

std::vector<uint8_t> ExportTool::ImageFileImage() {
  const int pane = main_->activePane();
  if (pane < 1 || pane > 2 || !main_->ShownImage(pane)) return {};
  // The paint converts the record's bitmap for this pane (the other pane may have
  // converted it last when both show the same record).
  PaneView* view = pane == 1 ? main_->leftPane : main_->rightPane;
  view->repaint();
  if (!main_->panePaintedImage(pane)) return {};
  DicomImage* im = main_->PaneImage(pane);
  return im ? DisplayBitmapFileImage(im->displayBitmap) : std::vector<uint8_t>{};
}

void ExportTool::Copy(const std::vector<uint8_t>& fileImage) {
  if (fileImage.empty()) return;
  const QByteArray bytes(reinterpret_cast<const char*>(fileImage.data()), static_cast<qsizetype>(fileImage.size()));
  const QImage image = QImage::fromData(bytes, "BMP");
  if (image.isNull()) return;
  auto* data = new QMimeData;
  data->setImageData(image);
  data->setData("image/bmp", bytes);
  QApplication::clipboard()->setMimeData(data);
}

void ExportTool::CopyScreen() { Copy(ScreenFileImage()); }
void ExportTool::CopyImage() { Copy(ImageFileImage()); }

void ExportTool::Save(const std::vector<uint8_t>& fileImage) {
  if (fileImage.empty()) return;
  QString proposed;
  if (const DicomImage* im = main_->PaneImage(main_->activePane())) {
    const std::string& path = im->filePath;
    const size_t slash = path.find_last_of('/');
    proposed = QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1));
  }
  QString chosen;
  if (chooseFileOverride) {
    chosen = chooseFileOverride(proposed);
  } else {
    // Overwriting is confirmed by the dialog (its default); the extension is not
    // completed, so what the user typed decides the format.
    chosen = QFileDialog::getSaveFileName(main_, QString(), proposed,
                                          QString::fromUtf8("ビットマップ (*.bmp);;JPEG (*.jpg);;All Files (*.*)"));
  }
  if (chosen.isEmpty()) return;
  WriteExportFile(chosen.toStdString(), fileImage);  // another extension writes nothing
}

void ExportTool::SaveScreen() { Save(ScreenFileImage()); }
void ExportTool::SaveImage() { Save(ImageFileImage()); }

}  // namespace velmo::ui
