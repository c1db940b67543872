#include "header/ui/tag_edit_dialogs.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "base/numbers.h"
#include "base/text.h"
#include "dicom/element.h"
#include "dicom/person_name.h"

namespace velmo::ui {
namespace {

QString Q(std::string_view sjis) { return QString::fromStdString(Utf8FromSjis(sjis)); }
std::string S(const QString& text) { return SjisFromUtf8(text.toStdString()); }

QLabel* FieldLabel(QWidget* parent, const char* id) {
  auto* label = new QLabel(parent);
  label->setObjectName(id);
  label->setFrameShape(QFrame::StyledPanel);
  label->setMinimumWidth(60);
  return label;
}


void AddVrLabels(QWidget* parent, QGridLayout* grid, int row, VrLabels* labels) {
  const char* captions[4] = {"名称", "定義", "文字レパートリ", "値の長さ"};
  const char* ids[4] = {"vrName", "vrDefinition", "vrRepertoire", "vrLength"};
  QLabel** targets[4] = {&labels->name, &labels->definition, &labels->repertoire, &labels->length};
  for (int i = 0; i < 4; ++i) {
    grid->addWidget(new QLabel(QString::fromUtf8(captions[i]), parent), row + i, 0, Qt::AlignTop);
    auto* label = new QLabel(parent);
    label->setObjectName(ids[i]);
    label->setWordWrap(true);
    label->setMinimumWidth(320);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for the longest descriptions, so the dialog keeps its size when the VR changes.
    const int lines = i == 1 ? 4 : i == 2 ? 2 : 1;
    label->setMinimumHeight(label->fontMetrics().lineSpacing() * lines + 2);
    grid->addWidget(label, row + i, 1, 1, 3);
    *targets[i] = label;
  }
}

bool IsTextVr(std::string_view code) {
  return code == "LO" || code == "LT" || code == "SH" || code == "ST" || code == "UT";
}

}  // namespace

void VrLabels::Show(const VrDescription& d) {
  name->setText(Q(d.name));
  definition->setText(Q(d.definition));
  repertoire->setText(Q(d.repertoire));
  length->setText(Q(d.length));
}

void EditVrOf(const Dictionaries& dict, std::string_view groupText, std::string_view elementText,
              std::string_view streamVr, std::string* code, std::string* flag) {
  code->clear();
  flag->clear();
  if (elementText == "0000") {
    *code = "UL";
    *flag = "N";
    return;
  }
  TagEntry entry;
  if (LookupTag(dict, groupText, elementText, &entry) && LookupVrFlag(dict, entry.vr, code, flag)) return;
  if (streamVr.size() == 2) {
    LookupVrFlag(dict, streamVr, code, flag);
    if (code->empty()) code->assign(streamVr);
  }
}

EditValueTexts EditValueTextsOf(std::string_view code, std::string_view flag, std::string_view raw, bool bigEndian) {
  EditValueTexts out;
  if (code == "PN") {
    std::string groups[3];
    ConvertPersonNameGroups(raw, groups);
    for (int i = 0; i < 3; ++i) out.boxes[i] = groups[i];
    out.enabled = 3;
    return out;
  }
  if (IsTextVr(code)) {
    Iso2022Options options;
    options.caretToSpace = false;
    out.boxes[0] = Iso2022ToSjis(raw, options);
    return out;
  }
  const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
  if (flag == "N") {
    if (code == "SS" || code == "US") out.enabled = 6;
    if (code == "AT" || code == "OB" || code == "OW") {
      for (size_t i = 0; i < raw.size(); ++i) out.boxes[0] += Format("%02X ", static_cast<unsigned>(p[i]));
      return out;
    }
    const size_t size = code == "FD" ? 8 : (code == "SS" || code == "US") ? 2 : 4;
    for (size_t i = 0; i < 6 && (i + 1) * size <= raw.size(); ++i) {
      const uint8_t* v = p + i * size;
      std::string& box = out.boxes[i];
      if (code == "UL") {
        box = Format("%u", Get32(v, bigEndian));
      } else if (code == "SL") {
        box = Format("%d", static_cast<int32_t>(Get32(v, bigEndian)));
      } else if (code == "SS") {
        box = Format("%d", static_cast<int16_t>(Get16(v, bigEndian)));
      } else if (code == "US") {
        box = Format("%u", static_cast<unsigned>(Get16(v, bigEndian)));
      } else if (code == "FL") {
        const uint32_t bits = Get32(v, bigEndian);
        float f;
        std::memcpy(&f, &bits, 4);
        box = Format("%.8f", static_cast<double>(f));
      } else if (code == "FD") {
        const uint64_t hi = Get32(v, bigEndian), lo = Get32(v + 4, bigEndian);
        const uint64_t bits = bigEndian ? (hi << 32 | lo) : (lo << 32 | hi);
        double d;
        std::memcpy(&d, &bits, 8);
        box = Format("%.8f", d);
      }
    }
    return out;
  }
  // Other character strings as they stand, without the NUL padding of UIDs.
  std::string_view text = raw;
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  out.boxes[0].assign(text);
  return out;
}

// ---------------------------------------------------------------- edit dialog (144)

TagEditDialog::TagEditDialog(const Dictionaries& dict, const DicomImage* image, const std::string& groupText,
                             const std::string& elementText, const std::string& name, QWidget* parent)
    : QDialog(parent), group_(groupText), element_(elementText) {
  setObjectName("144");
  setWindowTitle(QString::fromUtf8("ﾀｸﾞの編集"));
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QString::fromUtf8("ｸﾞﾙｰﾌﾟ"), this), 0, 0);
  grid->addWidget(groupLabel = FieldLabel(this, "group"), 0, 1);
  grid->addWidget(new QLabel(QString::fromUtf8("ｴﾚﾒﾝﾄ"), this), 0, 2);
  grid->addWidget(elementLabel = FieldLabel(this, "element"), 0, 3);
  grid->addWidget(new QLabel(QString::fromUtf8("値表現(VR)"), this), 1, 0);
  grid->addWidget(vrLabel = FieldLabel(this, "vr"), 1, 1);
  grid->addWidget(new QLabel(QString::fromUtf8("名称"), this), 2, 0);
  grid->addWidget(nameLabel = FieldLabel(this, "name"), 2, 1, 1, 3);
  AddVrLabels(this, grid, 3, &vrLabels);
  grid->addWidget(new QLabel(QString::fromUtf8("値"), this), 7, 0, Qt::AlignTop);
  auto* values = new QGridLayout;
  for (int i = 0; i < 6; ++i) {
    valueEdits[i] = new QLineEdit(this);
    valueEdits[i]->setObjectName(QString("value%1").arg(i + 1));
    valueEdits[i]->setEnabled(false);
    values->addWidget(valueEdits[i], i / 2, i % 2);
  }
  grid->addLayout(values, 7, 1, 1, 3);
  executeButton = new QPushButton(QString::fromUtf8("実行"), this);
  executeButton->setObjectName("ok");
  closeButton = new QPushButton(QString::fromUtf8("閉じる"), this);
  closeButton->setObjectName("cancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(executeButton);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(executeButton, &QPushButton::clicked, this, [this] {
    if (!execute || execute(*this)) accept();
  });

  groupLabel->setText(Q(groupText));
  elementLabel->setText(Q(elementText));
  nameLabel->setText(Q(name));

  // The element at top level of the image's header: group 0002 in the file meta
  // group (explicit VR little endian), others in the data set with the image's encoding.
  ElementView found;
  int syntax = kExplicitLittle;
  TagChange tag;
  const bool tagOk = ReadTagTexts(groupText, elementText, &tag).empty();
  if (image != nullptr && tagOk && !image->headerCopy.empty()) {
    const uint8_t* base = image->headerCopy.data();
    const int64_t size = static_cast<int64_t>(image->headerCopy.size());
    const int64_t meta = std::clamp<int64_t>(image->preambleSize, 0, size);
    const int64_t data = std::clamp<int64_t>(image->datasetOffset, meta, size);
    const int64_t end = std::clamp<int64_t>(image->headerSize, data, size);
    if (tag.group() == 0x0002) {
      found = FindElement(base + meta, base + data, kExplicitLittle, 0, tag.group(), tag.element());
    } else {
      syntax = image->syntaxType;
      found = FindElement(base + data, base + end, syntax, 0, tag.group(), tag.element());
    }
  }
  std::string flag;
  EditVrOf(dict, groupText, elementText, found.found() ? std::string_view(found.vr, 2) : std::string_view(), &vr_,
           &flag);
  vrLabel->setText(Q(vr_));
  vrLabels.Show(DescribeVr(vr_));
  const EditValueTexts texts =
      found.found() ? EditValueTextsOf(vr_, flag, found.text(), syntax == kExplicitBig) : EditValueTexts{};
  for (int i = 0; i < 6; ++i) {
    valueEdits[i]->setText(Q(texts.boxes[i]));
    valueEdits[i]->setEnabled(i < texts.enabled);
  }
}

bool TagEditDialog::Encode(TagChange* change) const {
  if (!ReadTagTexts(group_, element_, change).empty()) return false;
  const std::string boxes[3] = {S(valueEdits[0]->text()), S(valueEdits[1]->text()), S(valueEdits[2]->text())};
  return EncodeTagValue(vr_, boxes, change);
}

// ---------------------------------------------------------------- add dialog (145)

TagAddDialog::TagAddDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("145");
  setWindowTitle(QString::fromUtf8("ﾀｸﾞの追加"));
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QString::fromUtf8("ｸﾞﾙｰﾌﾟ"), this), 0, 0);
  groupEdit = new QLineEdit(this);
  groupEdit->setObjectName("group");
  groupEdit->setMaxLength(4);
  grid->addWidget(groupEdit, 0, 1);
  grid->addWidget(new QLabel(QString::fromUtf8("ｴﾚﾒﾝﾄ"), this), 0, 2);
  elementEdit = new QLineEdit(this);
  elementEdit->setObjectName("element");
  elementEdit->setMaxLength(4);
  grid->addWidget(elementEdit, 0, 3);
  grid->addWidget(new QLabel(QString::fromUtf8("値表現(VR)"), this), 1, 0);
  vrCombo = new QComboBox(this);
  vrCombo->setObjectName("vr");
  vrCombo->setEditable(true);
  vrCombo->addItem(QString());
  for (const VrDescription& d : VrDescriptions()) vrCombo->addItem(Q(d.code));
  vrCombo->setCurrentIndex(0);
  grid->addWidget(vrCombo, 1, 1);
  AddVrLabels(this, grid, 2, &vrLabels);
  grid->addWidget(new QLabel(QString::fromUtf8("値"), this), 6, 0, Qt::AlignTop);
  auto* values = new QVBoxLayout;
  for (int i = 0; i < 3; ++i) {
    valueEdits[i] = new QLineEdit(this);
    valueEdits[i]->setObjectName(QString("value%1").arg(i + 1));
    valueEdits[i]->setEnabled(i == 0);
    values->addWidget(valueEdits[i]);
  }
  grid->addLayout(values, 6, 1, 1, 3);
  tagListButton = new QPushButton(QString::fromUtf8("DICOMタグ一覧"), this);
  tagListButton->setObjectName("32790");
  tagListButton->setAutoDefault(false);
  okButton = new QPushButton(QString::fromUtf8("OK"), this);
  okButton->setObjectName("ok");
  cancelButton = new QPushButton(QString::fromUtf8("ｷｬﾝｾﾙ"), this);
  cancelButton->setObjectName("cancel");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(tagListButton);
  buttons->addStretch();
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  connect(vrCombo, &QComboBox::currentTextChanged, this, &TagAddDialog::OnVrChanged);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(okButton, &QPushButton::clicked, this, [this] {
    if (!execute || execute(*this)) accept();
  });
  connect(tagListButton, &QPushButton::clicked, this, [this] { ShowTagList(tagList, this); });
}

void TagAddDialog::OnVrChanged(const QString& text) {
  const std::string code = S(text);
  vrLabels.Show(DescribeVr(code));
  const bool pn = code == "PN";
  valueEdits[1]->setEnabled(pn);
  valueEdits[2]->setEnabled(pn);
}

std::string TagAddDialog::ReadInput(TagChange* change) const {
  return ReadTagTexts(S(groupEdit->text()), S(elementEdit->text()), S(vrCombo->currentText()), change);
}

bool TagAddDialog::Encode(TagChange* change) const {
  const std::string vr = S(vrCombo->currentText());
  std::string boxes[3] = {S(valueEdits[0]->text()), "", ""};
  if (vr == "PN") {
    boxes[1] = S(valueEdits[1]->text());
    boxes[2] = S(valueEdits[2]->text());
  }
  return EncodeTagValue(vr, boxes, change);
}

}  // namespace velmo::ui
