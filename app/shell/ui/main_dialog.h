#pragma once
// MainDialog: Velmo's single top-level window. It owns the application tables for the
// whole run (file table, study tree, image records, display tables, settings, log),
// holds every control of the main window (objectName = control id), lays the two
// panes and the control strip out, and paints the panes.
//
// Three developers' areas meet here. Each area adds its own members only inside its
// marked section near the end of the class and connects its controls in its own
// SetUp* function, which the constructor calls:
//   SetUpFileControls()        - file intake and the lists   (main_dialog_files.cpp)
//   SetUpWindowLevelControls() - window/level and presets    (main_dialog_window_level.cpp)
//   SetUpCineControls()        - CINE playback               (main_dialog_cine.cpp)
//   SetUpMeasurementTools()    - measurement tools           (main_dialog_measure.cpp)
//   SetUpExportAndPrint()      - export, printing, external programs and the settings
//                                dialog                        (main_dialog_export.cpp)
//   SetUpVolumeTools()         - slice line, MPR and MIP     (main_dialog_volume.cpp)
//   SetUpTagEditing()          - tag edit, add and delete    (main_dialog_editing.cpp)
//   SetUpPacs()                - archive query and retrieve  (main_dialog_pacs.cpp)
#include <QImage>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/file_table.h"
#include "browser/study_tree.h"
#include "dicom/load_context.h"
#include "render/convert.h"
#include "render/pane_display.h"
#include "base/log.h"
#include "base/settings.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMouseEvent;
class QPainter;
class QResizeEvent;
class QSlider;
class QTabBar;
class QToolButton;
class QTreeWidget;
class QVBoxLayout;

namespace velmo::ui {

class PaneView;
class MessageNotifier;

// Two small arrow buttons next to a line edit (the level, width and frame edits):
// `up` and `down` are plain buttons; the area that owns the edit box decides what a
// click does.
class UpDownButtons : public QWidget {
  Q_OBJECT
 public:
  explicit UpDownButtons(QWidget* parent = nullptr);
  QToolButton* up = nullptr;
  QToolButton* down = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// Per-pane mouse mode: at most one of these is active for a pane. Window/level drag
// is on for both panes at start.
enum class PaneMouseMode { kNone, kLevelWidth, kZoom, kMeasure };

class MainDialog : public QMainWindow {
  Q_OBJECT

 public:
  // `startupArguments` are the PATH arguments of the command line, as given.
  explicit MainDialog(std::vector<std::string> startupArguments = {}, QWidget* parent = nullptr);
  ~MainDialog() override;

  // False when start-up failed (an allocation reported in a message box); the window
  // should not be shown then.
  bool initialised() const { return initialised_; }

  // ---- hooks for the other areas ----
  int activePane() const { return activePane_; }  // 1 left, 2 right
  // Makes `pane` active: repaints both frames, synchronises the display controls and
  // emits activePaneChanged.
  void SetActivePane(int pane);
  PaneDisplay& paneDisplay(int pane);
  // The panes a display control acts on: the active pane in separate mode, both in
  // combined mode.
  std::vector<int> TargetPanes() const;
  // Asks for a repaint of one pane (0: both); with needsConversion the pixels are
  // recomputed at that paint.
  void RepaintPane(int pane, bool needsConversion);
  // Shows file-table entry `fileTableIndex` in `pane` (-1 empties it): loads the record
  // if needed, synchronises the controls when it is the active pane, emits
  // paneImageChanged and repaints. Returns the load's result.
  bool ShowEntry(int pane, int fileTableIndex);
  // The record a pane shows, or nullptr.
  DicomImage* PaneImage(int pane);
  // The record a pane shows when its attributes are extracted (an image is on
  // screen), else nullptr: what the controls act on.
  DicomImage* ShownImage(int pane);
  bool combinedMode() const { return combined_; }
  bool enlargedLayout() const { return enlarged_; }
  int overlayLevel() const { return overlayLevel_; }
  PaneMouseMode mouseMode(int pane) const;
  // Sets the mouse mode of a pane and shows it on buttons 1071 and 1195 when the pane
  // is active.
  void SetMouseMode(int pane, PaneMouseMode mode);
  // True while a loading job runs (CINE ticks and list loads are ignored then).
  bool loadingJobRunning() const { return loadingJobRunning_; }
  void SetLoadingJobRunning(bool running) { loadingJobRunning_ = running; }
  // The start-up intake calls this when the lists are built and the first entry is
  // shown (or there was nothing to show); emits startupIntakeFinished.
  void MarkStartupIntakeFinished();
  bool startupIntakeDone() const { return startupIntakeDone_; }
  const std::vector<std::string>& startupArguments() const { return startupArguments_; }

  // What the pane shows without the active frame (Wc x Hc, device pixels), null
  // before the first paint or while the pane is black.
  const QImage& Snapshot(int pane) const;
  // True when the pane has painted an image since the last change of its picture.
  bool panePaintedImage(int pane) const;
  // Re-reads the active pane's flags into the display buttons (negative, palette,
  // zoom, rotations, flips, filters) and the zoom combo.
  void SyncDisplayControls();

  LoadContext& loadContext() { return loadContext_; }
  FileTable& fileTable() { return fileTable_; }
  StudyTree& studyTree() { return studyTree_; }
  Settings& settings() { return settings_; }
  const Log& log() const { return *log_; }
  RenderContext& renderContext() { return render_; }
  Notifier& notifier();

  // Pane composition (called by the pane widgets' paint handlers).
  void PaintPane(int pane, QPainter& painter);
  // Drawing hooks run on the composed canvas (device pixels, Wc x Hc, origin at the
  // visible top-left) before the snapshot is taken: measurement graphics and slice
  // lines, then the image-information overlay.
  std::function<void(int pane, QPainter& painter)> paneGraphicsHook;
  std::function<void(int pane, QPainter& painter)> overlayHook;

 signals:
  void activePaneChanged(int pane);
  // A pane shows another record (or none).
  void paneImageChanged(int pane);
  void startupIntakeFinished();
  // Mouse events on a pane in device pixels of the pane. The zoom drag is handled
  // here; window/level and other areas connect to these.
  void paneMousePressed(int pane, QPoint pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
  void paneMouseMoved(int pane, QPoint pos, Qt::MouseButtons buttons);
  void paneMouseReleased(int pane, QPoint pos, Qt::MouseButton button);
  // A pane finished painting (with an image or black).
  void panePainted(int pane);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  friend class PaneView;
  void CreateControls();
  void CreateMenu();
  void LoadToolBitmaps();
  void ApplyWindowRectangle();
  bool InitialiseTables();
  void ConnectDisplayControls();
  void LayOut();
  void ShowLeftTabPage(int page);
  void ShowRightTabPage(int page);
  void OnPaneDoubleClicked(int pane);
  void OnPaneMouse(int pane, QMouseEvent* event);
  void SetSeparateMode(bool separate);
  void UpdateModeButtons();
  void SyncZoomCombo();
  int ArrangeTools(int evenWidth, int maxWidth, int height);

  // Area functions defined by the other developers.
  void SetUpFileControls();
  void SetUpWindowLevelControls();
  void SetUpCineControls();

  // Application state.
  std::vector<std::string> startupArguments_;
  std::unique_ptr<Log> log_;
  std::unique_ptr<MessageNotifier> notifier_;
  Settings settings_;
  FileTable fileTable_;
  StudyTree studyTree_;
  LoadContext loadContext_;
  RenderContext render_;
  PaneDisplay panes_[3];
  PaneMouseMode mouseMode_[3] = {PaneMouseMode::kNone, PaneMouseMode::kLevelWidth, PaneMouseMode::kLevelWidth};
  QImage snapshots_[3];
  bool paintedImage_[3] = {false, false, false};
  QPoint zoomDragLast_[3];
  bool zoomDragging_[3] = {false, false, false};
  int activePane_ = 1;
  bool combined_ = false;
  bool enlarged_ = false;
  int overlayLevel_ = 1;
  bool initialised_ = false;
  bool loadingJobRunning_ = false;
  bool startupIntakeDone_ = false;
  bool layingOut_ = false;
  QImage compose_[3];  // per pane: the canvas being composed
  bool panning_[3] = {false, false, false};
  QPoint panLast_[3];
  QWidget* leftFilePage_ = nullptr;
  QWidget* leftHeaderPage_ = nullptr;
  QWidget* rightToolPage_ = nullptr;
  QWidget* rightHeaderPage_ = nullptr;
  QWidget* toolPanel_ = nullptr;
  int toolIconSize_ = 32;

 public:
  // ---- controls (objectName = control id) ----
  QWidget* client = nullptr;  // the client area below the menu bar
  PaneView* leftPane = nullptr;   // 1001
  PaneView* rightPane = nullptr;  // 1005
  QTabBar* leftTabs = nullptr;    // 1031: "ファイル", "ヘッダ情報"
  QTabBar* rightTabs = nullptr;   // 1032: "ツール", "ヘッダ情報"

  // Left "ファイル" page.
  QToolButton* patientLevelButton = nullptr;  // 1045 "患者"
  QToolButton* studyLevelButton = nullptr;    // 1046 "検査"
  QToolButton* seriesLevelButton = nullptr;   // 1047 "ｼﾘｰｽﾞ"
  QToolButton* imageLevelButton = nullptr;    // 1048 "画像"
  QToolButton* clearButton = nullptr;         // 1012 "ｸﾘｱ"
  QToolButton* refreshButton = nullptr;       // 1009 "更新"
  QToolButton* folderButton = nullptr;        // 1006 "ﾌｫﾙﾀﾞ"
  QToolButton* fileButton = nullptr;          // 1004 "ﾌｧｲﾙ"
  // Holder of the file list: the list widget (objectName "1002") is created by the
  // file-list area inside this frame, which fills it.
  QWidget* fileListHost = nullptr;
  QVBoxLayout* fileListHostLayout = nullptr;

  // Left and right "ヘッダ情報" pages.
  QTreeWidget* leftHeaderList = nullptr;   // 1010
  QTreeWidget* rightHeaderList = nullptr;  // 1011
  QToolButton* leftJapaneseButton = nullptr;   // 1092 "日本語"
  QToolButton* leftEnglishButton = nullptr;    // 1093 "英語"
  QToolButton* rightJapaneseButton = nullptr;  // 2011 "日本語"
  QToolButton* rightEnglishButton = nullptr;   // 2012 "英語"
  QToolButton* leftBinaryButton = nullptr;     // 1152 "ﾊﾞｲﾅﾘ表記"
  QToolButton* rightBinaryButton = nullptr;    // 1153 "ﾊﾞｲﾅﾘ表記"
  QToolButton* leftCopyValueButton = nullptr;  // 1127 "値のｺﾋﾟｰ"
  QToolButton* rightCopyValueButton = nullptr; // 1137 "値のｺﾋﾟｰ"
  QToolButton* leftSaveTextButton = nullptr;   // 1125 "ﾃｷｽﾄ保存"
  QToolButton* rightSaveTextButton = nullptr;  // 1126 "ﾃｷｽﾄ保存"

  // Right "ツール" page.
  QToolButton* separateButton = nullptr;        // 1096 "分離表示"
  QToolButton* combineButton = nullptr;         // 1095 "結合表示"
  QToolButton* levelWidthDragButton = nullptr;  // 1071 "L W 変更"
  QToolButton* negativeButton = nullptr;        // 1075 "白黒反転"
  QToolButton* paletteButton = nullptr;         // 1091 "ﾊﾟﾚｯﾄｶﾗｰ"
  QToolButton* holdButton = nullptr;            // 1098 "L/W\n固定"
  QToolButton* zoomDragButton = nullptr;        // 1195 "ｽﾞｰﾑ"
  QToolButton* fitButton = nullptr;             // 1192 "全体"
  QToolButton* oneToOneButton = nullptr;        // 1193 "100%"
  QToolButton* actualSizeButton = nullptr;      // 1194 "実寸"
  QComboBox* zoomCombo = nullptr;               // 1136
  QToolButton* flipHorizontalButton = nullptr;  // 1081 "左右"
  QToolButton* flipVerticalButton = nullptr;    // 1082 "上下"
  QToolButton* rotateLeftButton = nullptr;      // 1083 "左回転"
  QToolButton* rotateRightButton = nullptr;     // 1094 "右回転"
  QComboBox* rotationCombo = nullptr;           // 1132
  QToolButton* sharpenButton = nullptr;         // 1089 "鮮鋭化"
  QToolButton* noiseButton = nullptr;           // 1087 "ﾉｲｽﾞ除去"
  QToolButton* distanceButton = nullptr;        // 1073 "距離"
  QToolButton* angleButton = nullptr;           // 1074 "角度"
  QToolButton* ctrButton = nullptr;             // 1088 "心胸郭比"
  QToolButton* pixelValueButton = nullptr;      // 1097 "ﾋﾟｸｾﾙ値"
  QToolButton* roiCircleButton = nullptr;       // 1084 "ROI ○"
  QToolButton* roiBoxButton = nullptr;          // 1085 "ROI □"
  QToolButton* selectButton = nullptr;          // 1076 "選択"
  QToolButton* deleteButton = nullptr;          // 1078 "削除"
  QToolButton* sliceLineButton = nullptr;       // 1072 "ｽﾗｲｽﾗｲﾝ"
  QToolButton* mprButton = nullptr;             // 1077 "MPR"
  QToolButton* mipButton = nullptr;             // 1086 "MIP"
  QToolButton* cineBackwardButton = nullptr;    // 1148 "<"
  QToolButton* cineStopButton = nullptr;        // 1149 "■"
  QToolButton* cineForwardButton = nullptr;     // 1147 ">"
  QLineEdit* cineIntervalEdit = nullptr;        // 1058 (milliseconds)
  QLineEdit* frameEdit = nullptr;               // 1054
  UpDownButtons* frameSpin = nullptr;           // 1143
  QSlider* frameSlider = nullptr;               // 1142
  QLineEdit* levelEdit = nullptr;               // 1053
  UpDownButtons* levelSpin = nullptr;           // 1060
  QSlider* levelSlider = nullptr;               // 1056
  QLineEdit* widthEdit = nullptr;               // 1055
  UpDownButtons* widthSpin = nullptr;           // 1061
  QSlider* widthSlider = nullptr;               // 1057
  QLabel* levelLabel = nullptr;                 // 1065 "Level" / "明度"
  QLabel* widthLabel = nullptr;                 // 1066 "Width" / "彩度"
  QListWidget* presetList = nullptr;            // 1174
  QToolButton* overlayButton = nullptr;         // 1196 "画像情報"
  QToolButton* copyScreenButton = nullptr;      // 1118 "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 画面ｷｬﾌﾟﾁｬ"
  QToolButton* copyImageButton = nullptr;       // 1119 "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 画像のみ"
  QToolButton* saveScreenButton = nullptr;      // 1120 "ﾌｧｲﾙ保存 画面ｷｬﾌﾟﾁｬ"
  QToolButton* saveImageButton = nullptr;       // 1121 "ﾌｧｲﾙ保存 画像のみ"
  QToolButton* printButton = nullptr;           // 1122 "印刷"
  std::array<QToolButton*, 4> programButtons{};  // 1114..1117
  QLabel* zoomLabel = nullptr;                  // "拡大率"
  QLabel* rotationLabel = nullptr;              // "回転角"
  QLabel* intervalLabel = nullptr;              // "間隔"
  QLabel* intervalUnitLabel = nullptr;          // "m秒"
  QLabel* frameLabel = nullptr;                 // "ﾌﾚｰﾑ"
  // The five group frames of the tool page: display mode and window/level, zoom and
  // rotation, measurement, CINE, export.
  std::array<QGroupBox*, 5> toolGroups{};

  // Menu 129.
  QAction* openAction = nullptr;          // "開く(&O)"
  QAction* exitAction = nullptr;          // "終了(&X)"
  QAction* settingsAction = nullptr;      // "設定"
  QAction* groupSettingsAction = nullptr; // "ｸﾞﾙｰﾌﾟの設定"
  QAction* overlaySettingsAction = nullptr; // "画像情報の設定"
  QAction* logAction = nullptr;           // "ﾛｸﾞ(&L)"
  QAction* versionAction = nullptr;       // "Velmo のﾊﾞｰｼﾞｮﾝ情報(&A)..."
  QAction* osVersionAction = nullptr;     // "OSのﾊﾞｰｼﾞｮﾝ情報"

  // ---- file intake and lists (developer B) ----
 public:
  // The file list (control 1002), created inside fileListHost.
  class FileList* fileList = nullptr;
  // Start-up intake (called once from the initialisation): the command-line paths,
  // or with none the remembered DICOMDIR; then the lists are built, the first row is
  // selected and shown, and MarkStartupIntakeFinished() is called.
  void TakeStartupPaths(const std::vector<std::string>& paths);
  void TakeStartupPaths(const QStringList& paths);
  // The list level (0 "患者" .. 3 "画像") and its "状態" "リスト" text (Shift-JIS) for
  // the close handler.
  int listLevel() const { return listLevel_; }
  const std::string& ListLevelSetting() const;
  // Level buttons 1045..1048: sets the level, re-sorts, refills, re-selects the
  // current pane's entry and focuses the list.
  void SetListLevel(int level);
  // The intakes behind "ﾌｧｲﾙ"/"開く(&O)", "ﾌｫﾙﾀﾞ", drops and "更新", after their dialogs.
  void TakeFiles(const std::vector<std::string>& paths);
  void TakeFolder(const std::string& folder);
  // Files dropped on drop zone 0..4; returns false when the zone takes nothing.
  bool TakeDroppedPaths(const std::vector<std::string>& paths, int zone);
  // A row dragged from the file list dropped on zone 1..4; false when not taken.
  bool TakeDroppedRow(int zone);
  void RefreshLists();
  void ClearLists();
  // The drop zone (0..4) strictly containing `pos` (main-window coordinates), -1 for none.
  int DropZoneAt(QPoint pos, bool rowDrop) const;
  // Shows a list row in the current pane, or in combined mode the row and its
  // neighbour. Ignored while a loading job runs.
  void ShowListRow(int row);
  // The loading job run with the progress window of the last intake.
  bool lastLoadingJobCancelled() const;

 private:
  void ChooseFiles();
  void ChooseFolder();
  void LoadPendingIntake(int command);
  bool RunLoadingJobWithProgress();
  void RebuildLists();
  void ReselectCurrentEntry(bool showIt);
  void OnListRowSelected(int row, int pane, bool show);
  void OnListColumnClicked(int column);
  void ShowLevelButtons();
  struct FileArea;
  std::shared_ptr<FileArea> fileArea_;  // intake, loading job, sort state, drop catcher
  int listLevel_ = 3;

 public:  // the sections below keep the public access of the control members

  // ---- window/level, presets and CINE (developer C) ----
 public:
  // Sets the labels, spin and slider ranges, slider positions, level/width texts,
  // hold button and preset list from the active pane's record.
  void SyncWindowLevelControls();
  // Gives `pane`'s image this window: stores it in the record, shows it in the edit
  // boxes and sliders when the pane is active, and repaints the pane.
  void ApplyWindow(int pane, int32_t level, int32_t width);
  // Reads Config/Preset.csv again and refills the preset list.
  void ReloadPresets();
  // Number of presets read from Config/Preset.csv.
  int presetCount() const;
  // Opens the preset dialog ("　設定する"); after "登録" the presets are read again.
  void OpenPresetDialog();
  // CINE: starts playback of the active pane (forward or backward) or stops it.
  void StartCine(bool forward);
  void StopCine();
  // One tick of a pane's CINE timer (ignored while a loading job runs).
  void CineTick(int pane);
  bool cinePlaying(int pane) const;
  // Sets the CINE buttons, frame slider and frame edit from the active pane.
  void SyncCineControls();
  // The pane's CINE timer: running, and its interval in milliseconds.
  bool cineTimerActive(int pane) const;
  int cineTimerInterval(int pane) const;
  // Test seam: replaces the preset dialog ("　設定する") with a function returning
  // whether the presets were registered.
  std::function<bool()> presetDialogOverride;

 private:
  void OnLevelTextChanged(const QString& text);
  void OnWidthTextChanged(const QString& text);
  void StepWindowBox(bool level, int step);
  void OnPresetSelected(int row);
  void OnLevelWidthPress(int pane, QPoint pos, Qt::MouseButton button);
  void OnLevelWidthMove(int pane, QPoint pos, Qt::MouseButtons buttons);
  void OnFrameTextChanged(const QString& text);
  void ShowFrameNumber(int number);
  struct AreaCState;  // window/level and CINE state (main_dialog_window_level.cpp)
  std::shared_ptr<AreaCState> areaC_;
  AreaCState& areaC();

  // ---- measurement tools (main_dialog_measure.cpp) ----
 public:
  // The tool buttons 1073..1078, the mouse protocol on the panes and the drawing of
  // measurements. The volume tools call measurementTools->ClearRightPaneForVolumeView().
  class MeasurementToolController* measurementTools = nullptr;

 private:
  void SetUpMeasurementTools();

  // ---- export, printing, external programs, settings dialog (main_dialog_export.cpp) ----
 public:
  class ExportTool* exportTool = nullptr;                    // buttons 1118..1121
  class PrintTool* printTool = nullptr;                      // button 1122 and the print preview
  class ExternalProgramButtons* externalPrograms = nullptr;  // buttons 1114..1117
  // The settings dialog (132) of the menu item "設定"; after "保存" the settings are
  // read again (ReloadSettings).
  void OpenSettingsDialog();
  // Reads Velmo.ini again and applies it: colours, monitor pitch, zoom method, person
  // name order, log level, program buttons; both panes are converted again.
  void ReloadSettings();

 private:
  void SetUpExportAndPrint();

  // ---- header lists and image-information overlay (main_dialog_header.cpp) ----
 public:
  class HeaderLists* headerLists = nullptr;    // the two "ヘッダ情報" lists and their buttons
  class ImageOverlay* imageOverlay = nullptr;  // draws through overlayHook

 private:
  void SetUpHeaderAndOverlay();

  // ---- tag edit, add and delete (main_dialog_editing.cpp) ----
 public:
  // The tag menu's edit, add and delete commands with their dialogs, the writers for
  // the scope, the re-read of rewritten files and the refresh of lists and panes.
  class TagEditing* tagEditing = nullptr;

 private:
  void SetUpTagEditing();
  // Re-reads list entry `entry` with the loading worker in single-record mode.
  void RereadEntry(int32_t entry);
  // Rebuilds the lists and loads again the panes showing one of `entries` (and `pane`).
  void RefreshAfterTagChange(int pane, const std::vector<int32_t>& entries);

  // ---- slice line, MPR and MIP (main_dialog_volume.cpp) ----
 public:
  // Buttons 1072, 1077, 1086, the threshold boxes, the reformat shown in the right
  // pane, line picking and drawing.
  class VolumeToolController* volumeTools = nullptr;
  QLineEdit* mipUpperEdit = nullptr;  // 1169 "上閾"
  QLineEdit* mipLowerEdit = nullptr;  // 1170 "下閾"
  // Test seam: called once the volume build's progress window is up.
  std::function<void(class ProgressDialog&)> volumeProgressShown;

 private:
  void SetUpVolumeTools();
  int volumeRightEntry_ = -1;  // the right pane's entry while it shows the reformat

  // ---- archive query and retrieve (main_dialog_pacs.cpp) ----
 public:
  QAction* pacsAction = nullptr;                // "PACS(&P)..." in the file menu
  class PacsWindow* pacsWindow = nullptr;       // created when first opened
  void OpenPacsWindow();

 private:
  void SetUpPacs();
};

}  // namespace velmo::ui
