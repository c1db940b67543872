#pragma once
// The edit dialog (144) and the add dialog (145) of the header lists' tag menu. The
// dialogs only collect and encode the change; what happens on "実行" / "OK" (the scope
// question and the writers) is the `execute` callback of the controller, which
// returns true to close the dialog with OK and false to keep it open.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>

#include "dicom/dicom_image.h"
#include "header/dictionary.h"
#include "header/tag_edit.h"
#include "header/ui/tag_list_window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmo::ui {

// The four description labels of a VR (name, definition, repertoire, length).
struct VrLabels {
  QLabel* name = nullptr;        // "vrName"
  QLabel* definition = nullptr;  // "vrDefinition"
  QLabel* repertoire = nullptr;  // "vrRepertoire"
  QLabel* length = nullptr;      // "vrLength"
  void Show(const VrDescription& d);
};

// The element's VR code and VR.csv flag as the edit dialog uses them: group-length
// elements (element 0000) are UL with flag "N"; otherwise the dictionary's VR field,
// or the VR in the stream when the dictionary does not know the tag.
void EditVrOf(const Dictionaries& dict, std::string_view groupText, std::string_view elementText,
              std::string_view streamVr, std::string* code, std::string* flag);

// The value texts (Shift-JIS, up to six boxes) the edit dialog shows for a raw value
// of VR `code` with flag `flag`, and how many boxes are enabled.
struct EditValueTexts {
  std::string boxes[6];
  int enabled = 1;
};
EditValueTexts EditValueTextsOf(std::string_view code, std::string_view flag, std::string_view raw, bool bigEndian);

class TagEditDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows element (group, element) of `image` (may be null: no value shown); texts in
  // Shift-JIS as the header list shows them.
  TagEditDialog(const Dictionaries& dict, const DicomImage* image, const std::string& groupText,
                const std::string& elementText, const std::string& name, QWidget* parent = nullptr);

  QLabel* groupLabel = nullptr;    // "group"
  QLabel* elementLabel = nullptr;  // "element"
  QLabel* vrLabel = nullptr;       // "vr"
  QLabel* nameLabel = nullptr;     // "name"
  VrLabels vrLabels;
  QLineEdit* valueEdits[6] = {};   // "value1" .. "value6"
  QPushButton* executeButton = nullptr;  // "実行" (objectName "ok")
  QPushButton* closeButton = nullptr;    // "閉じる" (objectName "cancel")

  const std::string& vrCode() const { return vr_; }
  // Encodes the boxes for the element's VR into *change (tag, VR, value); false when
  // the value is too long.
  bool Encode(TagChange* change) const;

  std::function<bool(TagEditDialog&)> execute;

 private:
  std::string group_, element_, vr_;
};

class TagAddDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TagAddDialog(QWidget* parent = nullptr);

  QLineEdit* groupEdit = nullptr;    // "group"
  QLineEdit* elementEdit = nullptr;  // "element"
  QComboBox* vrCombo = nullptr;      // "vr": "", then the 26 codes
  VrLabels vrLabels;
  QLineEdit* valueEdits[3] = {};     // "value1" .. "value3"
  QPushButton* okButton = nullptr;       // "OK" (objectName "ok")
  QPushButton* cancelButton = nullptr;   // "ｷｬﾝｾﾙ" (objectName "cancel")
  QPushButton* tagListButton = nullptr;  // "DICOMタグ一覧" (objectName "32790")
  QPointer<TagListWindow> tagList;

  // The input checks; "" when they pass (then *change holds the tag and VR).
  std::string ReadInput(TagChange* change) const;
  bool Encode(TagChange* change) const;

  std::function<bool(TagAddDialog&)> execute;

 private:
  void OnVrChanged(const QString& text);
};

}  // namespace velmo::ui
