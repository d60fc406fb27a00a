// The real window driven end to end under Qt Test: double-clicks in the
// folder and file lists, the radio group, typing into the drop-down, the
// buttons, and the message boxes answered as a user would. The window's
// texts and states are checked as the user sees them, and a picture of the
// window after an export is saved for a look.
#include "app/main_window.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>

#include "app/cursor_log_table.h"
#include "app/file_list.h"
#include "app/folder_list.h"
#include "app/system_host.h"
#include "base/errors.h"
#include "component/daro_vivuv.h"
#include "tools/contact_log.h"

namespace logvane {
namespace {

// ---- The log the window works on ------------------------------------------
// MakeTestLog writes a real log table (definition, data, index and blob
// files) into the folder and returns the table cursor component and the
// export the program uses, with the clock fixed.

struct TestLog {
  std::unique_ptr<TLogTable> table;
  TAdifExport export_file;
  TDaroVivuv* cursor = nullptr;
  int contacts = 0;
  // The first record line when ordered by call sign.
  QByteArray first_line_by_call;
};

TestLog MakeTestLog(const QString& log_folder) {
  struct Row {
    const char* call;
    const char* name;
  };
  static const Row kRows[] = {{"W1AW", "HIRAM"}, {"K9XYZ", "JOE"}, {"DL1ABC", "KARL"}};
  tools::WriteContactLog(log_folder.toStdString(), 3, [](int i, tools::Contact& c) {
    c.call = kRows[i].call;
    c.name = kRows[i].name;
    c.qso_date = 37758.0;  // 17 May 2003
    c.time_start = "1432";
    c.freq = 14.025;
    c.mode = "CW";
    c.city = "DENVER";
    c.state = "CO";
    c.country = "USA";
    c.continent = "NA";
    c.rst_sent = "599";
    c.rst_rcvd = "579";
    c.num_rcvd = 7;
  });
  auto cursor = std::make_unique<TDaroVivuv>();
  cursor->SetName("LogTabl");
  cursor->SetReadOnly(true);
  TestLog log;
  log.cursor = cursor.get();
  log.contacts = 3;
  log.first_line_by_call =
      "<call:6>DL1ABC <freq:6>14.025 <mode:2>CW <qso_date:8>20030517 <time_on:4>1432";
  log.table = std::make_unique<TCursorLogTable<TDaroVivuv>>(std::move(cursor));
  using namespace std::chrono;
  log.export_file = AdifExportOf<TDaroVivuv>(
      [] { return sys_days{year{2003} / 5 / 17} + hours{14} + minutes{32}; });
  return log;
}

// ---- Answering message boxes -------------------------------------------------

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon;
};

// Watches for modal message boxes, notes each and presses the next scripted
// button (OK when the script is empty).
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(5);
  }
  std::deque<QMessageBox::StandardButton> script;
  std::vector<SeenBox> seen;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    seen.push_back({box->windowTitle(), box->text(), box->icon()});
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (!script.empty()) {
      answer = script.front();
      script.pop_front();
    }
    QAbstractButton* button = box->button(answer);
    if (button == nullptr) {
      qWarning("box \"%s\" has no such button", qPrintable(box->text()));
      box->reject();
      return;
    }
    button->click();
  }
  QTimer timer_;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void startsWithTheVersionCaptionAndTheConfiguredLook();
  void exportsALogThroughTheWindow();
  void boxesWarnAskAndReportErrors();
  void enterOpensAFolderWithoutTheReset();
  void pickingAContestFromTheListHoldsIt();
  void exitClosesTheWindowAndTheTable();

 private:
  template <typename T = QWidget>
  T* Get(TControlId id) {
    return qobject_cast<T*>(window_->Control(id));
  }
  QString PanelText(TControlId id) { return Get<QLabel>(id)->text(); }
  void DoubleClickFolder(const QString& name);
  void DoubleClickTableFile();
  void ChooseSort(int item);
  void ClickButton(TControlId id);
  QString Logs() const { return root_.path() + "/Logs"; }

  QTemporaryDir root_;
  TestLog log_;
  TSystemHost host_;
  std::unique_ptr<TLogvaneWindow> window_;
  std::unique_ptr<BoxAnswerer> boxes_;
};

void MainWindowTest::initTestCase() {
  QVERIFY(root_.isValid());
  QVERIFY(QDir(root_.path()).mkpath("Logs/MYLOG"));
  QVERIFY(QDir(root_.path()).mkpath("Logs/EMPTY"));
}

void MainWindowTest::init() {
  QFile::remove(Logs() + "/MYLOG/MYLOG.ADI");
  log_ = MakeTestLog(Logs() + "/MYLOG");
  // The folder list starts at the working folder.
  QDir::setCurrent(Logs());
  window_ = std::make_unique<TLogvaneWindow>(*log_.table, log_.export_file, host_);
  boxes_ = std::make_unique<BoxAnswerer>();
  window_->show();
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void MainWindowTest::cleanup() {
  window_.reset();
  boxes_.reset();
  log_ = TestLog();
}

void MainWindowTest::DoubleClickFolder(const QString& name) {
  auto* list = Get<TFolderList>(TControlId::kDirListBox);
  const QList<QTreeWidgetItem*> found =
      list->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
  QVERIFY2(!found.isEmpty(), qPrintable(name));
  const QPoint at = list->visualItemRect(found.last()).center();
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void MainWindowTest::DoubleClickTableFile() {
  auto* list = Get<TFileList>(TControlId::kFileListBox);
  const QPoint at = list->count() > 0 ? list->visualItemRect(list->item(0)).center() : QPoint(5, 5);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void MainWindowTest::ChooseSort(int item) {
  const QList<QRadioButton*> radios = Get(TControlId::kOutSort)->findChildren<QRadioButton*>();
  QCOMPARE(radios.size(), 2);
  QTest::mouseClick(radios[item], Qt::LeftButton, {}, QPoint(6, radios[item]->height() / 2));
}

void MainWindowTest::ClickButton(TControlId id) {
  QTest::mouseClick(Get<QToolButton>(id), Qt::LeftButton);
}

void MainWindowTest::startsWithTheVersionCaptionAndTheConfiguredLook() {
  QCOMPARE(window_->windowTitle(), QString("Zentro Logvane v1.04, ADIF Spec v1.00"));
  QCOMPARE(window_->size(), QSize(602, 362));
  QCOMPARE(Get(TControlId::kOutSort)->geometry(), QRect(412, 96, 185, 70));
  QCOMPARE(Get(TControlId::kDirListBox)->geometry(), QRect(4, 1, 220, 181));
  QCOMPARE(Get(TControlId::kContestID)->geometry(), QRect(400, 214, 196, 21));
  QCOMPARE(Get(TControlId::kExtrtBtn)->size(), QSize(161, 26));
  QCOMPARE(Get<QToolButton>(TControlId::kExtrtBtn)->text(), QString("Generate ADIF File"));
  QCOMPARE(Get<QToolButton>(TControlId::kExitBtn)->text(), QString("EXIT"));
  QCOMPARE(PanelText(TControlId::kSelLogLabel),
           QString("<-- 1.  Dbl click desired Log Name (Input)"));
  QCOMPARE(Get<QGroupBox>(TControlId::kOutSort)->title(), QString(" Output Sort Order "));
  QCOMPARE(Get<QComboBox>(TControlId::kContestID)->count(), 36);
  QCOMPARE(Get<QComboBox>(TControlId::kContestID)->itemText(35), QString("TARA-RTTY"));
  QCOMPARE(Get<QComboBox>(TControlId::kContestID)->currentText(), QString());
  QVERIFY(!Get(TControlId::kOutSort)->isEnabled());
  QVERIFY(!Get(TControlId::kSortLabel)->isEnabled());
  QVERIFY(!Get(TControlId::kExtrtBtn)->isEnabled());
  QVERIFY(!Get(TControlId::kFileListBox)->isVisible());
  QVERIFY(!Get(TControlId::kInpCount)->isVisible());
  QVERIFY(Get(TControlId::kDirListBox)->isVisible());
  QCOMPARE(Get(TControlId::kInputFolder)->palette().color(QPalette::Window), QColor(Qt::yellow));
  QCOMPARE(Get(TControlId::kFileNameOut)->font().pixelSize(), 10);
  QVERIFY(Get(TControlId::kFileNameOut)->font().bold());
  // The folder list opened where the program was started.
  QCOMPARE(Get<TFolderList>(TControlId::kDirListBox)->Folder(), Logs());
}

void MainWindowTest::exportsALogThroughTheWindow() {
  DoubleClickFolder("MYLOG");
  QCOMPARE(Get<TFolderList>(TControlId::kDirListBox)->Folder(), Logs() + "/MYLOG");
  QVERIFY(Get(TControlId::kOutSort)->isEnabled());
  QVERIFY(!Get(TControlId::kFileListBox)->isVisible());

  ChooseSort(1);
  auto* files = Get<TFileList>(TControlId::kFileListBox);
  QVERIFY(files->isVisible());
  QVERIFY(Get(TControlId::kLogTablLabel)->isVisible());
  QCOMPARE(files->count(), 1);
  QCOMPARE(files->item(0)->text(), QString("LogTabl.mti"));

  DoubleClickTableFile();
  QVERIFY(boxes_->seen.empty());
  QCOMPARE(log_.cursor->IndexName(), std::string("Call"));
  QVERIFY(log_.cursor->Active());
  QCOMPARE(PanelText(TControlId::kInpCount), QString::number(log_.contacts));
  QCOMPARE(PanelText(TControlId::kInputFolder), QString("MYLOG"));
  QCOMPARE(PanelText(TControlId::kOutputFile), Logs() + "/MYLOG/");
  QCOMPARE(PanelText(TControlId::kFileNameOut), QString("MYLOG.ADI"));
  auto* contest = Get<QComboBox>(TControlId::kContestID);
  QCOMPARE(contest->currentText(), QString("   Select Contest ID -->  "));
  QCOMPARE(window_->Workflow().ContestId(), std::string());  // the prompt is not the user's
  QVERIFY(Get(TControlId::kExtrtBtn)->isEnabled());
  QVERIFY(!Get(TControlId::kOutSort)->isEnabled());

  contest->lineEdit()->selectAll();
  QTest::keyClicks(contest->lineEdit(), "cq-ww-cw");
  QCOMPARE(window_->Workflow().ContestId(), std::string("CQ-WW-CW"));

  ClickButton(TControlId::kExtrtBtn);  // no contest question: an identifier is set
  const QString output = Logs() + "/MYLOG/MYLOG.ADI";
  QCOMPARE(boxes_->seen.size(), size_t{1});
  QCOMPARE(boxes_->seen[0].title, QString("Information"));
  QCOMPARE(boxes_->seen[0].icon, QMessageBox::Information);
  QCOMPARE(boxes_->seen[0].text, "ADIF File:\n" + output + "\nhas been created.");

  const int lines = 4 * log_.contacts + 2;
  QVERIFY(Get(TControlId::kOutCount)->isVisible());
  QVERIFY(Get(TControlId::kOutCountLabel)->isVisible());
  QCOMPARE(PanelText(TControlId::kOutCount), QString::number(lines));
  QVERIFY(!Get(TControlId::kExtrtBtn)->isEnabled());
  QVERIFY(!files->isVisible());
  QVERIFY(!Get(TControlId::kLogTablLabel)->isVisible());
  QCOMPARE(contest->currentText(), QString("   Select Contest ID -->  "));
  QVERIFY(!log_.cursor->Active());

  QFile written(output);
  QVERIFY(written.open(QIODevice::ReadOnly));
  const QList<QByteArray> text = written.readAll().split('\n');
  QCOMPARE(text.size(), lines + 1);  // the last line ends in CR LF too
  QCOMPARE(text[0], QByteArray("MYLOG - sorted by Call letters, exported from Tavisk database\r"));
  QCOMPARE(
      text[1],
      QByteArray("  2003-05-17 @ 1432 UTC, using Zentro Logvane v1.04, ADIF Spec v1.00.<eoh>\r"));
  QCOMPARE(text[2], log_.first_line_by_call + "\r");
  QVERIFY(text[5].contains("<contest_id:8>CQ-WW-CW "));

  const QByteArray picture = qgetenv("LOGVANE_SCREENSHOT");
  if (!picture.isEmpty()) QVERIFY(window_->grab().save(QString::fromLocal8Bit(picture)));
}

void MainWindowTest::boxesWarnAskAndReportErrors() {
  // A folder without the table file: nothing to select.
  DoubleClickFolder("EMPTY");
  ChooseSort(0);
  QCOMPARE(Get<TFileList>(TControlId::kFileListBox)->count(), 0);
  DoubleClickTableFile();
  QCOMPARE(boxes_->seen.size(), size_t{1});
  QCOMPARE(boxes_->seen[0].title, QString("Warning"));
  QCOMPARE(boxes_->seen[0].icon, QMessageBox::Warning);
  QCOMPARE(boxes_->seen[0].text, QString("LogTable File Not Selected"));

  DoubleClickFolder("Logs");
  DoubleClickFolder("MYLOG");
  ChooseSort(0);
  DoubleClickTableFile();
  QCOMPARE(log_.cursor->IndexName(), std::string("NumSentIndx"));
  QVERIFY(log_.cursor->Active());

  // A second table while one is open: the component's refusal in the error box.
  DoubleClickTableFile();
  QCOMPARE(boxes_->seen.size(), size_t{2});
  QCOMPARE(boxes_->seen[1].icon, QMessageBox::Critical);
  QCOMPARE(boxes_->seen[1].text, QString("Cannot perform this operation on an open dataset"));
  QVERIFY(window_->isVisible());

  // No contest identifier: the question; No leaves everything as it was.
  boxes_->script = {QMessageBox::No};
  ClickButton(TControlId::kExtrtBtn);
  QCOMPARE(boxes_->seen.size(), size_t{3});
  QCOMPARE(boxes_->seen[2].title, QString("Confirm"));
  QCOMPARE(boxes_->seen[2].icon, QMessageBox::Question);
  QCOMPARE(boxes_->seen[2].text, QString("Select Contest ID or\nleave blank for non contest Log.\n"
                                         "Yes to leave blank, No to select Contest ID."));
  QVERIFY(Get(TControlId::kExtrtBtn)->isEnabled());
  QVERIFY(!QFile::exists(Logs() + "/MYLOG/MYLOG.ADI"));

  // An existing output file: Yes to both questions overwrites it.
  QFile old(Logs() + "/MYLOG/MYLOG.ADI");
  QVERIFY(old.open(QIODevice::WriteOnly));
  old.write("old contents that are longer than the new file would ever be ... ");
  old.close();
  boxes_->script = {QMessageBox::Yes, QMessageBox::Yes};
  ClickButton(TControlId::kExtrtBtn);
  QCOMPARE(boxes_->seen.size(), size_t{6});
  QCOMPARE(boxes_->seen[4].text, "Output File:\n" + Logs() +
                                     "/MYLOG/MYLOG.ADI already exists,\n"
                                     "Do you wish to overwrite it?");
  QCOMPARE(boxes_->seen[5].title, QString("Information"));
  QVERIFY(old.open(QIODevice::ReadOnly));
  QVERIFY(old.readAll().startsWith("MYLOG - sorted by Sequence worked"));
}

void MainWindowTest::enterOpensAFolderWithoutTheReset() {
  DoubleClickFolder("MYLOG");
  ChooseSort(0);
  DoubleClickTableFile();
  QVERIFY(Get(TControlId::kExtrtBtn)->isEnabled());

  auto* folders = Get<TFolderList>(TControlId::kDirListBox);
  folders->setFocus();
  folders->setCurrentItem(folders->findItems("Logs", Qt::MatchExactly | Qt::MatchRecursive).last());
  QTest::keyClick(folders, Qt::Key_Return);
  QCOMPARE(folders->Folder(), Logs());
  QCOMPARE(window_->Workflow().LogFolder(), Logs().toStdString());
  QCOMPARE(Get<TFileList>(TControlId::kFileListBox)->count(), 0);
  // No reset: the steps and panels stay as they were.
  QVERIFY(Get(TControlId::kFileListBox)->isVisible());
  QVERIFY(!Get(TControlId::kOutSort)->isEnabled());
  QCOMPARE(PanelText(TControlId::kInputFolder), QString("MYLOG"));
  QVERIFY(boxes_->seen.empty());
}

void MainWindowTest::pickingAContestFromTheListHoldsIt() {
  auto* contest = Get<QComboBox>(TControlId::kContestID);
  contest->showPopup();
  QAbstractItemView* view = contest->view();
  QTRY_VERIFY(view->isVisible());
  const QModelIndex item = view->model()->index(21, 0);  // CQ-WW-CW
  view->scrollTo(item);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
  QTRY_COMPARE(window_->Workflow().ContestId(), std::string("CQ-WW-CW"));
  QCOMPARE(contest->currentText(), QString("CQ-WW-CW"));
}

void MainWindowTest::exitClosesTheWindowAndTheTable() {
  DoubleClickFolder("MYLOG");
  ChooseSort(1);
  DoubleClickTableFile();
  QVERIFY(log_.cursor->Active());
  ClickButton(TControlId::kExitBtn);
  QVERIFY(!window_->isVisible());
  TDaroVivuv* cursor = log_.cursor;
  window_.reset();
  QVERIFY(!cursor->Active());
}

}  // namespace logvane

QTEST_MAIN(logvane::MainWindowTest)
#include "main_window_test.moc"
