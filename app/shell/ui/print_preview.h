#pragma once
// Printing: the print preview window (142, "印刷ﾌﾟﾚﾋﾞｭｰ") with its twelve frames that take
// pane snapshots dragged from the main window, the page setup remembered in "印刷",
// one page printed through QPrinter, and the batch print of `velmo --print-pdf`.
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

#include "base/settings.h"
#include "shell/print_layout.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPrinter;
class QPushButton;

namespace velmo::ui {

class MainDialog;

using PrintFrameImages = std::array<QImage, kPrintFrames>;

// Orientation and paper of the "印刷" settings on a printer (margins are applied by
// the printing code itself, so the printer's own margins are set to 0).
void ApplyPageSetup(QPrinter& printer, const PrintSettings& settings);
// Orientation, paper and margins (hundredths of a millimetre) chosen in the page setup
// dialog, into `settings`.
void ReadPageSetup(const QPrinter& printer, PrintSettings* settings);

// Prints one page: printable area from the margins and bands, filled black when asked,
// divided into the layout's frames; every filled frame inside the layout receives its
// picture with the aspect-preserving fit, unsmoothed. Frames beyond the layout are
// skipped. False (and nothing printed) when the printable area is empty or the
// printer cannot be opened.
bool PrintFrames(QPrinter& printer, const PrintSettings& settings, FrameLayout layout,
                 const PrintFrameImages& frames);

class PrintPreview : public QDialog {
  Q_OBJECT
 public:
  explicit PrintPreview(MainDialog* main);
  ~PrintPreview() override;

  // Copies a picture into frame k (0..11) and repaints.
  void SetFrame(int k, const QImage& image);
  const PrintFrameImages& frames() const { return frames_; }
  // The settings as the controls show them ("ヘッダー", "フッター", "背景黒", "コマ数"
  // from the controls, the page setup as last stored).
  PrintSettings CurrentSettings() const;
  FrameLayout CurrentLayout() const;
  // Where frame k lies in the page picture (widget coordinates), empty outside the
  // layout.
  QRect FrameRect(int k) const;

  // "印刷": stores the band, background and layout settings; with no filled frame does
  // nothing more; otherwise runs the print dialog and prints; after a successful print
  // releases the frames and closes. Returns true when a page was printed.
  bool PrintNow();
  // "印刷ﾍﾟｰｼﾞ設定".
  void PageSetup();

  // Test seam: replaces the print dialog; it may set the printer up (for example for
  // a PDF file) and returns false for cancel.
  std::function<bool(QPrinter& printer)> printDialogOverride;

  QComboBox* layoutBox = nullptr;    // 1233
  QLineEdit* headerEdit = nullptr;   // 1234
  QLineEdit* footerEdit = nullptr;   // 1235
  QCheckBox* blackBox = nullptr;     // 1236
  QPushButton* pageSetupButton = nullptr;  // 1220
  QPushButton* printButton = nullptr;      // "印刷" (1)
  QPushButton* cancelButton = nullptr;     // "ｷｬﾝｾﾙ" (2)
  class PagePicture* page = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Release();
  MainDialog* main_;
  PrintSettings stored_;
  std::unique_ptr<QPrinter> printer_;
  PrintFrameImages frames_;
};

// The print button of the main window and the drag of pane snapshots while the
// preview is open.
class PrintTool : public QObject {
  Q_OBJECT
 public:
  explicit PrintTool(MainDialog* main);
  // Opens the preview (or raises the one that is open).
  PrintPreview* Open();
  PrintPreview* preview() const { return preview_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  MainDialog* main_;
  QPointer<PrintPreview> preview_;
  QPoint pressPos_;
  int pressPane_ = 0;
};

// `velmo --print-pdf OUT.pdf [--layout RxC] PATH...`: once the lists are built, shows
// the list's images one by one in the left pane, puts their snapshots in list order
// into the frames of the layout (`layoutName` "" for the saved "コマ数"), and prints
// the page to OUT.pdf with the saved "印刷" settings. Returns the exit status: 0
// printed, 1 nothing printed (no image, or the printable area is empty), 2 an unknown
// layout.
int PrintPdfBatch(MainDialog& main, const QString& outPdf, const QString& layoutName);

}  // namespace velmo::ui
