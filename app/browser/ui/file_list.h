#pragma once
// The file list of the main window (control 1002): 16 columns, one row per patient,
// study, series or image of the study tree, painted by hand (white rows, the
// pressed row pale yellow, the selected row orange).
//
// The list holds its own copies of the cell texts (UTF-8 QStrings), so it never
// points into the file table while a loading job rewrites it.
//
// How a press becomes a load: a left or right press on a row makes it the pressed
// row, remembers the button and raises the show-on-select flag; the selection
// follows on release (or when a row drag ends somewhere that does not take it). The
// Up and Down keys raise the flag too; Page Up/Down, Home and End move the
// selection without it. Every selection change the list reports clears the pressed
// row and emits rowSelected with the pane of the remembered button (then forgotten)
// and the flag (then cleared). Selections made by the program raise nothing.
#include <QAbstractTableModel>
#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTreeView>
#include <array>
#include <vector>

namespace velmo {
class StudyTree;
}

namespace velmo::ui {

inline constexpr int kFileListColumns = 16;
using FileListRow = std::array<QString, kFileListColumns>;

// The rows of a study tree at its current level, cell texts converted for display
// (Shift-JIS cells decoded, the path column taken as UTF-8).
std::vector<FileListRow> RowsOfTree(const StudyTree& tree);

class FileListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit FileListModel(QObject* parent = nullptr);
  void SetRows(std::vector<FileListRow> rows);
  const FileListRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<FileListRow> rows_;
  std::array<QString, kFileListColumns> titles_;
};

class FileList : public QTreeView {
  Q_OBJECT
 public:
  static inline const QColor kPressedColour{255, 255, 150};
  static inline const QColor kSelectedColour{255, 150, 0};

  explicit FileList(QWidget* parent = nullptr);

  // Replaces every row (no selection afterwards; the pressed row is forgotten).
  void SetRows(std::vector<FileListRow> rows);
  void Clear() { SetRows({}); }
  int RowCount() const;
  QString CellText(int row, int column) const;

  // The selected row, -1 for none.
  int SelectedRow() const;
  // Selects and focuses `row` as the program does (re-selection after a refill or a
  // level change): the show-on-select flag is not raised. -1 clears the selection.
  void SelectRow(int row);

  int pressedRow() const { return pressedRow_; }
  // 0 none, 1 left button, 2 right button.
  int rememberedButton() const { return rememberedButton_; }
  bool showOnSelect() const { return showOnSelect_; }

  // A row dragged from this list was dropped on a pane: forgets the remembered
  // button, clears the flag, selects and focuses the pressed row and returns it
  // (-1 when no row was pressed; nothing changes then).
  int TakeRowDrop();

  // The rectangle of a row in the list's coordinates (all columns).
  QRect RowRect(int row) const;

 signals:
  // The list reported a new selected and focused row. `pane` is the pane of the
  // remembered button (1 left, 2 right) or 0; `show` is the show-on-select flag.
  void rowSelected(int row, int pane, bool show);
  // A column header was clicked (column code 0..15).
  void columnClicked(int column);
  // A row drag is about to start (the owner refreshes what it needs to).
  void rowDragStarting(int row);

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void changeEvent(QEvent* event) override;

 private:
  void PressRow(QMouseEvent* event);
  void SelectPressedRow();
  void StartRowDrag();

  FileListModel* model_;
  int pressedRow_ = -1;
  int rememberedButton_ = 0;
  bool showOnSelect_ = false;
  bool programSelection_ = false;
  // The press that may become a row drag.
  bool pressActive_ = false;
  QRect pressRect_;
};

}  // namespace velmo::ui
