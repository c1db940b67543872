// Tag editing from the header lists: the edit, add and delete commands with their
// dialogs driven by objectName, the scope by list level, the rewritten files checked
// with dcmdump and the project's readers, the backups, the re-read list records and
// the reloaded pane and list; the "DICOMﾀｸﾞ一覧" window and its searches.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QLabel>
#include <functional>
#include <map>
#include <memory>

#include "base/install.h"
#include "base/text.h"
#include "browser/study_tree.h"
#include "header/tag_edit.h"
#include "header/ui/header_lists.h"
#include "header/ui/tag_edit_dialogs.h"
#include "header/ui/tag_editing.h"
#include "header/ui/tag_list_window.h"
#include "render/ui/overlay_settings_dialogs.h"
#include "shell/ui/main_dialog.h"
#include "shell/ui/message_notifier.h"
#include "support/test_util.h"
#include "ui_install.h"

using namespace velmo;
using namespace velmo::ui;

class TagEditingTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString sample_;  // generated study, copied fresh for each test
  QString study_;

  void Install() {
    QDir(dir_.path() + "/home").removeRecursively();  // no backups or logs of an earlier case
    QVERIFY(velmo::ui::testing::MakeUiInstallation(dir_.path() + "/home", {{"リスト=患者", "リスト=画像"}}));
  }

  std::unique_ptr<MainDialog> Open(const QString& path) {
    auto w = std::make_unique<MainDialog>(std::vector<std::string>{path.toStdString()});
    if (!w->initialised()) return nullptr;
    static_cast<MessageNotifier&>(w->notifier()).SetUnattended(true);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) return nullptr;
    w->resize(1000, 900);
    if (!QTest::qWaitFor([&] { return w->startupIntakeDone(); }, 20000)) return nullptr;
    w->leftTabs->setCurrentIndex(1);  // "ヘッダ情報"
    QCoreApplication::processEvents();
    w->tagEditing->answerOverride = [](std::string_view) { return true; };
    return w;
  }

  // Opens the study folder and shows CT0001 in the left pane.
  std::unique_ptr<MainDialog> OpenStudy() {
    auto w = Open(study_);
    if (!w) return nullptr;
    for (int32_t e = 0; e < w->fileTable().validCount.load(); ++e)
      if (QString::fromStdString(w->fileTable().entries[static_cast<size_t>(e)].record.filePath).endsWith("CT0001.dcm")) {
        w->ShowEntry(1, e);
        QCoreApplication::processEvents();
        return w;
      }
    return nullptr;
  }

  static MessageNotifier& Messages(MainDialog& w) { return static_cast<MessageNotifier&>(w.notifier()); }
  static bool Shown(MainDialog& w, const char* utf8) {
    for (const auto& m : Messages(w).shown())
      if (m.message.contains(QString::fromUtf8(utf8))) return true;
    return false;
  }

  // Selects the header row (group, element) of the left list.
  static bool SelectRow(MainDialog& w, const char* group, const char* element) {
    QTreeWidget* list = w.leftHeaderList;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      if (item->text(0) == group && item->text(1) == element) {
        list->scrollToItem(item);
        const QRect r = list->visualItemRect(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 10, r.center().y()));
        return w.headerLists->rowSelected(1);
      }
    }
    return false;
  }
  static QString ListValue(MainDialog& w, const char* group, const char* element) {
    QTreeWidget* list = w.leftHeaderList;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      if (list->topLevelItem(i)->text(0) == group && list->topLevelItem(i)->text(1) == element)
        return list->topLevelItem(i)->text(6);
    return "(absent)";
  }

  // Runs `fill` on the dialog once it is up (inside its exec), then clicks `button`.
  void WhenShown(MainDialog& w, std::function<void(QDialog&)> fill, const char* button = "ok") {
    w.tagEditing->dialogShown = [fill, button](QDialog& dialog) {
      QDialog* d = &dialog;
      QTimer::singleShot(0, d, [d, fill, button] {
        fill(*d);
        if (button != nullptr) d->findChild<QPushButton*>(button)->click();
      });
    };
  }

  static std::string Dump(const QString& file, const char* tag) {
    return test::RunCommand("dcmdump -q +P " + std::string(tag) + " " + test::ShellQuote(file.toStdString())).out;
  }
  QStringList Backups() const {
    return QDir(dir_.path() + "/home/VelmoImgBk").entryList(QDir::Files, QDir::Name);
  }
  std::vector<std::string> ScopePaths(MainDialog& w, int level) {
    std::vector<std::string> out;
    for (int32_t e : ImagesInScope(w.studyTree(), level, w.loadContext().viewIndex[1]))
      out.push_back(w.fileTable().entries[static_cast<size_t>(e)].record.filePath);
    return out;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    sample_ = dir_.path() + "/sample";
    QProcess sample;
    sample.start(QStringLiteral(VELMO_BIN_DIR) + "/velmo-sample", {sample_});
    QVERIFY(sample.waitForFinished(60000));
    QCOMPARE(sample.exitCode(), 0);
    if (test::RunCommand("command -v dcmdump").status != 0) QSKIP("dcmdump is not installed");
  }
  void init() {
    Install();
    study_ = dir_.path() + "/study";
    QDir(study_).removeRecursively();
    QDir().mkpath(study_);
    for (const QString& f : QDir(sample_).entryList(QDir::Files)) QFile::copy(sample_ + "/" + f, study_ + "/" + f);
  }

  // Edit the patient name at series level: every image of the series is rewritten
  // and backed up, the other series are untouched, list records and pane reloaded.
  void editNameAtSeriesScope() {
    auto w = OpenStudy();
    QVERIFY(w);
    w->SetListLevel(kLevelSeries);
    const std::vector<std::string> scope = ScopePaths(*w, kLevelSeries);
    QVERIFY(scope.size() > 2);
    std::map<std::string, std::vector<uint8_t>> before;
    for (const QString& f : QDir(study_).entryList(QDir::Files))
      before[(study_ + "/" + f).toStdString()] = test::ReadBytes((study_ + "/" + f).toStdString());
    QVERIFY(SelectRow(*w, "0010", "0010"));

    std::string asked;
    w->tagEditing->answerOverride = [&asked](std::string_view q) {
      asked.assign(q);
      return true;
    };
    QString shownFirst;
    WhenShown(*w, [&shownFirst](QDialog& d) {
      QCOMPARE(d.objectName(), QString("144"));
      QCOMPARE(d.findChild<QLabel*>("vr")->text(), QString("PN"));
      QVERIFY(!d.findChild<QLabel*>("vrName")->text().isEmpty());
      shownFirst = d.findChild<QLineEdit*>("value1")->text();
      QVERIFY(d.findChild<QLineEdit*>("value3")->isEnabled());
      QVERIFY(!d.findChild<QLineEdit*>("value4")->isEnabled());
      d.findChild<QLineEdit*>("value1")->setText("Yamada Taro");
      d.findChild<QLineEdit*>("value2")->setText(QString::fromUtf8("山田 太郎"));
      d.findChild<QLineEdit*>("value3")->setText(QString());
    });
    w->headerLists->editTagAction->trigger();
    QCOMPARE(shownFirst, QString("Sato Hanako"));
    QCOMPARE(asked, SJ("シリーズ単位で情報を書き換えますか？"));

    const QStringList backups = Backups();
    QCOMPARE(backups.size(), static_cast<qsizetype>(scope.size()));
    for (const QString& b : backups) QVERIFY2(b.contains("_Edit00100010_"), qPrintable(b));
    for (const auto& [path, bytes] : before) {
      const bool inScope = std::find(scope.begin(), scope.end(), path) != scope.end();
      if (!inScope) {
        QVERIFY2(test::ReadBytes(path) == bytes, path.c_str());
        continue;
      }
      const std::string dump = Dump(QString::fromStdString(path), "0010,0010");
      QVERIFY2(dump.find("[Yamada^Taro=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B=]") != std::string::npos, dump.c_str());
      // The backup holds the old content byte for byte.
      const QString name = QFileInfo(QString::fromStdString(path)).completeBaseName();
      const auto it = std::find_if(backups.begin(), backups.end(), [&](const QString& b) { return b.startsWith(name + "_"); });
      QVERIFY(it != backups.end());
      QVERIFY(test::ReadBytes((dir_.path() + "/home/VelmoImgBk/" + *it).toStdString()) == bytes);
    }
    // The list records were read again and the pane shows the new header.
    for (int32_t e : ImagesInScope(w->studyTree(), kLevelSeries, w->loadContext().viewIndex[1]))
      QCOMPARE(std::string(w->fileTable().entries[static_cast<size_t>(e)].record.patientNameRaw.view()).substr(0, 12),
               std::string("Yamada^Taro="));
    QVERIFY(ListValue(*w, "0010", "0010").startsWith("Yamada"));
    QVERIFY(w->PaneImage(1) != nullptr && w->PaneImage(1)->loaded);
    QVERIFY(Messages(*w).shown().empty());
  }

  // Refusals, add with the input checks, and delete at image level.
  void refusalsAddAndDeleteAtImageLevel() {
    auto w = OpenStudy();
    QVERIFY(w);
    w->SetListLevel(kLevelImage);
    const std::string path = (study_ + "/CT0001.dcm").toStdString();
    const std::vector<uint8_t> original = test::ReadBytes(path);
    bool dialogRan = false;
    WhenShown(*w, [&dialogRan](QDialog&) { dialogRan = true; }, "cancel");

    // An OB element and a multi-valued US element are refused before any dialog.
    struct Refusal {
      const char* group;
      const char* element;
      const char* message;
    };
    for (const Refusal& r : {Refusal{"0002", "0001", "値表現(VR)が OB、OW、SQ は編集できません"},
                             Refusal{"0028", "0011", nullptr}}) {
      Messages(*w).ClearShown();
      QVERIFY2(SelectRow(*w, r.group, r.element), r.group);
      w->headerLists->editTagAction->trigger();
      if (r.message != nullptr) {
        QVERIFY(Shown(*w, r.message));
        QVERIFY(!dialogRan);
      } else {
        QVERIFY(Messages(*w).shown().empty());  // US with VM 1: the dialog opens
        QVERIFY(dialogRan);
      }
    }

    // Add: a two-character group is refused and the dialog stays; then a DS is added.
    Messages(*w).ClearShown();
    int okClicks = 0;
    WhenShown(*w, [&](QDialog& d) {
      QCOMPARE(d.objectName(), QString("145"));
      auto* vr = d.findChild<QComboBox*>("vr");
      QCOMPARE(vr->count(), 27);
      QVERIFY(d.findChild<QLabel*>("vrName")->text().isEmpty());
      d.findChild<QLineEdit*>("group")->setText("10");
      d.findChild<QLineEdit*>("element")->setText("1030");
      vr->setCurrentText("PN");
      QVERIFY(d.findChild<QLineEdit*>("value2")->isEnabled());
      vr->setCurrentText("DS");
      QVERIFY(!d.findChild<QLineEdit*>("value2")->isEnabled());
      QVERIFY(!d.findChild<QLabel*>("vrName")->text().isEmpty());
      d.findChild<QLineEdit*>("value1")->setText("65.5");
      d.findChild<QPushButton*>("ok")->click();
      ++okClicks;
      QVERIFY(d.isVisible());
      d.findChild<QLineEdit*>("group")->setText("0010");
    });
    w->headerLists->addTagAction->trigger();
    QCOMPARE(okClicks, 1);
    QVERIFY(Shown(*w, "ｸﾞﾙｰﾌﾟ が入力されていません"));
    const std::vector<uint8_t> added = test::ReadBytes(path);
    QCOMPARE(added.size(), original.size() + 12);
    QVERIFY(Dump(study_ + "/CT0001.dcm", "0010,1030").find("[65.5]") != std::string::npos);
    QCOMPARE(ListValue(*w, "0010", "1030"), QString("65.5"));
    // Only the image itself changed at image level.
    QVERIFY(test::ReadBytes((study_ + "/CT0002.dcm").toStdString()) ==
            test::ReadBytes((sample_ + "/CT0002.dcm").toStdString()));

    // Delete it again: the file is back to its original bytes.
    std::string asked;
    w->tagEditing->answerOverride = [&asked](std::string_view q) {
      asked.assign(q);
      return true;
    };
    QVERIFY(SelectRow(*w, "0010", "1030"));
    w->headerLists->deleteTagAction->trigger();
    QVERIFY2(asked.find(SJ("画像単位で ﾀｸﾞの (0010,1030)")) == 0, asked.c_str());
    QVERIFY(test::ReadBytes(path) == original);
    QCOMPARE(ListValue(*w, "0010", "1030"), QString("(absent)"));
    const QStringList backups = Backups();
    QCOMPARE(backups.filter("CT0001_Add00101030_").size(), 1);
    QCOMPARE(backups.filter("CT0001_Del00101030_").size(), 1);

    // Answering no changes nothing.
    w->tagEditing->answerOverride = [](std::string_view) { return false; };
    QVERIFY(SelectRow(*w, "0010", "0020"));
    w->headerLists->deleteTagAction->trigger();
    QVERIFY(test::ReadBytes(path) == original);
  }

  // Patient and study levels take every image of the patient or study: an add at
  // patient level and a delete at study level touch every file, and the delete gives
  // back the original bytes.
  void addAtPatientLevelDeleteAtStudyLevel() {
    auto w = OpenStudy();
    QVERIFY(w);
    std::map<std::string, std::vector<uint8_t>> before;
    for (const QString& f : QDir(study_).entryList(QDir::Files))
      before[(study_ + "/" + f).toStdString()] = test::ReadBytes((study_ + "/" + f).toStdString());
    struct Step {
      int level;
      bool add;
      const char* question;
    };
    for (const Step& step : {Step{kLevelPatient, true, "患者ID単位で情報を書き換えますか？"},
                             Step{kLevelStudy, false, "検査単位で ﾀｸﾞの (0010,1020)"}}) {
      w->SetListLevel(step.level);
      QCOMPARE(ScopePaths(*w, step.level).size(), before.size());
      std::string asked;
      w->tagEditing->answerOverride = [&asked](std::string_view q) {
        asked.assign(q);
        return true;
      };
      if (step.add) {
        WhenShown(*w, [](QDialog& d) {
          d.findChild<QLineEdit*>("group")->setText("0010");
          d.findChild<QLineEdit*>("element")->setText("1020");
          d.findChild<QComboBox*>("vr")->setCurrentText("DS");
          d.findChild<QLineEdit*>("value1")->setText("1.75");
        });
        w->headerLists->addTagAction->trigger();
        for (const auto& [path, bytes] : before) {
          QCOMPARE(test::ReadBytes(path).size(), bytes.size() + 12);
          QVERIFY(Dump(QString::fromStdString(path), "0010,1020").find("[1.75]") != std::string::npos);
        }
      } else {
        QVERIFY(SelectRow(*w, "0010", "1020"));
        w->headerLists->deleteTagAction->trigger();
        for (const auto& [path, bytes] : before) QVERIFY2(test::ReadBytes(path) == bytes, path.c_str());
      }
      QVERIFY2(asked.find(SjisFromUtf8(step.question)) == 0, asked.c_str());
    }
    QCOMPARE(Backups().size(), static_cast<qsizetype>(2 * before.size()));
    QVERIFY(Messages(*w).shown().empty());
  }

  // A file of the scope that cannot be rewritten is reported once and left as it was;
  // the others are changed.
  void failedFileIsReportedAndKept() {
    auto w = OpenStudy();
    QVERIFY(w);
    w->SetListLevel(kLevelSeries);
    const std::vector<std::string> scope = ScopePaths(*w, kLevelSeries);
    QVERIFY(scope.size() > 2);
    QFile::remove(QString::fromStdString(scope[1]));
    QVERIFY(SelectRow(*w, "0010", "0020"));
    WhenShown(*w, [](QDialog& d) { d.findChild<QLineEdit*>("value1")->setText("ID-77"); });
    w->headerLists->editTagAction->trigger();
    QCOMPARE(Messages(*w).shown().size(), size_t{1});
    QCOMPARE(Messages(*w).shown()[0].caption, QString::fromUtf8("警告"));
    QVERIFY(!QFile::exists(QString::fromStdString(scope[1])));
    QVERIFY(Dump(QString::fromStdString(scope[2]), "0010,0020").find("[ID-77") != std::string::npos);
  }

  // The value texts of the edit dialog: numbers in the file's byte order, one per
  // box, FL and FD with eight decimals, text VRs decoded from ISO 2022, UIDs without
  // their NUL padding.
  void editValueTexts() {
    struct Case {
      const char* vr;
      const char* flag;
      std::string raw;
      bool big;
      std::vector<std::string> boxes;
      int enabled;
    };
    const Case cases[] = {
        {"US", "N", std::string("\x00\x02\x01\x00", 4), false, {"512", "1"}, 6},
        {"US", "N", std::string("\x02\x00", 2), true, {"512"}, 6},
        {"SS", "N", std::string("\xff\xff", 2), false, {"-1"}, 6},
        {"SL", "N", std::string("\xfe\xff\xff\xff", 4), false, {"-2"}, 1},
        {"UL", "N", std::string("\x00\x00\x01\x00", 4), true, {"256"}, 1},
        {"FL", "N", std::string("\x00\x00\x00\x3f", 4), false, {"0.50000000"}, 1},
        {"FD", "N", std::string("\x3f\xe0\x00\x00\x00\x00\x00\x00", 8), true, {"0.50000000"}, 1},
        {"FD", "N", std::string("\x00\x00\x00\x00\x00\x00\xe0\x3f", 8), false, {"0.50000000"}, 1},
        {"OB", "N", std::string("\x00\x01", 2), false, {"00 01 "}, 1},
        {"UI", "", std::string("1.2.3\0", 6), false, {"1.2.3"}, 1},
        {"LO", "", "\x1b$B;3ED\x1b(B^A", false, {SJ("山田") + "^A"}, 1},
        {"PN", "", "Sato^Hanako=\x1b$B:4F#\x1b(B", false, {"Sato Hanako", SJ("佐藤")}, 3},
    };
    for (const Case& c : cases) {
      const EditValueTexts t = EditValueTextsOf(c.vr, c.flag, c.raw, c.big);
      for (size_t i = 0; i < 6; ++i)
        QVERIFY2(t.boxes[i] == (i < c.boxes.size() ? c.boxes[i] : std::string()), (std::string(c.vr) + " " + t.boxes[i]).c_str());
      QCOMPARE(t.enabled, c.enabled);
    }
  }

  // The tag list window: rows from Tag.csv, searches, one instance per owner, reopen.
  void tagListWindowSearches() {
    const std::string csv = SjisFromUtf8(
        "0008,0016,SOPクラスUID,SOP Class UID,UI,1\r\n"
        "\r\n"
        "0010,0010,患者名,Patient's Name,PN,1,extra,more\r\n"
        "0010,0020,患者ID,Patient ID,LO,1\r\n"
        "only-one-field\r\n"
        "0020,000D,検査UID,Study Instance UID,UI,1");
    struct RowCase {
      size_t row;
      int column;
      const char* text;
    };
    const auto rows = TagListRows(csv);
    QCOMPARE(rows.size(), size_t{4});
    for (const RowCase& c : {RowCase{0, 0, "0008,0016"}, RowCase{1, 4, "1"}, RowCase{1, 2, "Patient's Name"},
                             RowCase{3, 0, "0020,000D"}, RowCase{3, 4, "1"}})
      QCOMPARE(Utf8FromSjis(rows[c.row][static_cast<size_t>(c.column)]), std::string(c.text));
    test::WriteText(dir_.path().toStdString() + "/home/Config/Tag.csv", csv);

    TagAddDialog dialog;
    dialog.show();
    dialog.tagListButton->click();
    QPointer<TagListWindow> window = dialog.tagList;
    QVERIFY(window);
    QCOMPARE(window->objectName(), QString("141"));
    QCOMPARE(window->list->topLevelItemCount(), 4);
    auto selected = [&] {
      const auto items = window->list->selectedItems();
      return items.isEmpty() ? -1 : window->list->indexOfTopLevelItem(items.first());
    };
    // Down from no selection, down again, at the last match nothing moves.
    window->searchEdit->setText("0010,");
    window->downButton->click();
    QCOMPARE(selected(), 1);
    window->downButton->click();
    QCOMPARE(selected(), 2);
    window->downButton->click();
    QCOMPARE(selected(), 2);
    // Up searches test columns backwards; on the first row it tests that row again.
    window->searchEdit->setText("UI");
    window->upButton->click();
    QCOMPARE(selected(), 0);
    window->upButton->click();
    QCOMPARE(selected(), 0);
    window->searchEdit->setText(QString::fromUtf8("患者ID"));
    window->downButton->click();
    QCOMPARE(selected(), 2);
    // The list fills the window below a 24-pixel strip.
    window->resize(500, 300);
    QCoreApplication::processEvents();
    QCOMPARE(window->list->geometry(), QRect(0, 24, 500, 276));
    // The same command shows the same window, refilled (a missing file empties it).
    QFile::remove(dir_.path() + "/home/Config/Tag.csv");
    dialog.tagListButton->click();
    QCOMPARE(dialog.tagList.data(), window.data());
    QCOMPARE(window->list->topLevelItemCount(), 0);
    window->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.tagList.isNull());

    // The image-information settings dialog offers the same window.
    Settings settings;
    SilentNotifier none;
    OverlayInfoDialog info(settings, none);
    info.findChild<QPushButton*>("32790")->click();
    QVERIFY(info.tagList);
    QVERIFY(info.tagList->isVisible());
  }
};

QTEST_MAIN(TagEditingTest)
#include "test_tag_editing.moc"
