#pragma once
// The "DICOMﾀｸﾞ一覧" window (control ids 1247, 1248, 1249, 1217): every line of
// Config/Tag.csv in a five-column list, read again each time the window is shown, with
// a search field and down/up searches. It only displays; the owner dialog opens it
// with ShowTagList and forgets it when it is destroyed.
#include <QPointer>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace velmo::ui {

class TagListWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TagListWindow(QWidget* owner);

  // Deletes every row and refills the list from `path` (Tag.csv); a missing or
  // unreadable file leaves the list empty without a message.
  void Fill(const std::string& path);
  // The searches of "↓検索" and "↑検索" with the text of the search field.
  void SearchDown();
  void SearchUp();

  QLineEdit* searchEdit = nullptr;     // 1247
  QPushButton* downButton = nullptr;   // 1248 "↓検索"
  QPushButton* upButton = nullptr;     // 1249 "↑検索"
  QTreeWidget* list = nullptr;         // 1217

  // The rows as read (Shift-JIS cells, columns 0 to 4).
  const std::vector<std::array<std::string, 5>>& rows() const { return rows_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool RowMatches(int row, const std::string& text, bool backwards) const;
  void SelectRow(int row);
  std::vector<std::array<std::string, 5>> rows_;
};

// Splits the bytes of a Tag.csv image into the rows of the window: one row per
// non-empty CR LF line with at least two fields; column 0 joins the first two fields
// with ",", fields 2 to 5 fill columns 1 to 4, later fields are ignored.
std::vector<std::array<std::string, 5>> TagListRows(const std::string& bytes);

// The owner's command "DICOMタグ一覧": creates the window on first use (a child
// window of `owner`), otherwise shows and restores it, then refills it from the
// installation's Config/Tag.csv. `slot` is cleared by Qt when the window is destroyed.
TagListWindow* ShowTagList(QPointer<TagListWindow>& slot, QWidget* owner);

}  // namespace velmo::ui
