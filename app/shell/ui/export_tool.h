#pragma once
// The four export buttons of the main window: the active pane's snapshot ("画面ｷｬﾌﾟﾁｬ")
// or display bitmap ("画像のみ") to the clipboard (1118, 1119) or to a BMP or JPEG
// file (1120, 1121).
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace velmo::ui {

class MainDialog;

class ExportTool : public QObject {
  Q_OBJECT
 public:
  explicit ExportTool(MainDialog* main);

  void CopyScreen();
  void CopyImage();
  void SaveScreen();
  void SaveImage();

  // The BMP file images the buttons export for the active pane (empty when the pane
  // shows no image). Paints the pane first, so both belong to what it shows now.
  std::vector<uint8_t> ScreenFileImage();
  std::vector<uint8_t> ImageFileImage();

  // Test seam: replaces the save dialog; returns the chosen path, "" for cancel.
  std::function<QString(const QString& proposedName)> chooseFileOverride;

 private:
  void Save(const std::vector<uint8_t>& fileImage);
  void Copy(const std::vector<uint8_t>& fileImage);
  MainDialog* main_;
};

}  // namespace velmo::ui
