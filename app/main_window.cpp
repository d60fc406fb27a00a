// The main window's controls and its side of the workflow's ports.
#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include "app/caption.h"
#include "app/file_list.h"
#include "app/folder_list.h"

namespace logvane {
namespace {

// The window's client area: the configured outer size of 610 x 396 less a
// frame of 4 pixels on three sides and a title bar of 26.
constexpr QSize kClientSize(602, 362);
constexpr int kDefaultFontPx = 11;
constexpr char kTableFileMask[] = "LogTabl.mti";

const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kGreen(0x00, 0x80, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kWhite(0xFF, 0xFF, 0xFF);

enum class TKind {
  kLabel,
  kPanel,
  kRightPanel,
  kFolderList,
  kFileList,
  kToolBar,
  kButton,
  kDropDown,
  kRadioGroup
};

struct TControlLook {
  TControlId id;
  TKind kind;
  QRect rect;  // in the window, or in ToolBar1 for the buttons
  int font_px;
  bool bold;
  QColor text;        // invalid: the default
  QColor background;  // invalid: the default
};

// In creation order, which is also the stacking order.
const TControlLook kLooks[kControlCount] = {
    {TControlId::kInpCountLabel, TKind::kLabel, {485, 248, 51, 17}, 12, true, {}, {}},
    {TControlId::kFileListBox, TKind::kFileList, {4, 184, 220, 25}, 16, false, kBlue, {}},
    {TControlId::kDirListBox, TKind::kFolderList, {4, 1, 220, 181}, kDefaultFontPx, false, {}, {}},
    {TControlId::kDirLabel, TKind::kLabel, {16, 246, 71, 20}, 13, true, {}, {}},
    {TControlId::kFileLabel, TKind::kLabel, {4, 317, 82, 20}, 13, true, {}, {}},
    {TControlId::kSelLogLabel, TKind::kLabel, {231, 57, 285, 20}, 13, true, {}, {}},
    {TControlId::kLogTablLabel, TKind::kLabel, {231, 187, 297, 20}, 13, true, {}, {}},
    {TControlId::kInpCount, TKind::kRightPanel, {439, 244, 42, 24}, 10, true, {}, kYellow},
    {TControlId::kToolBar1, TKind::kToolBar, {373, 1, 223, 34}, kDefaultFontPx, false, {}, kWhite},
    {TControlId::kExtrtBtn, TKind::kButton, {2, 4, 161, 26}, 13, true, {}, {}},
    {TControlId::kExitBtn, TKind::kButton, {163, 4, 56, 26}, 13, true, {}, {}},
    {TControlId::kOutCountLabel, TKind::kLabel, {485, 318, 51, 17}, 12, true, {}, {}},
    {TControlId::kOutCount, TKind::kRightPanel, {439, 315, 42, 24}, 10, true, {}, kLime},
    {TControlId::kNameLabel, TKind::kLabel, {331, 216, 68, 17}, 12, true, {}, {}},
    {TControlId::kContestID, TKind::kDropDown, {400, 214, 196, 21}, 10, true, {}, kAqua},
    {TControlId::kInputFolder, TKind::kPanel, {88, 244, 351, 24}, 12, true, {}, kYellow},
    {TControlId::kOutputFile, TKind::kPanel, {111, 280, 370, 24}, 12, false, {}, kLime},
    {TControlId::kFileNameOut, TKind::kPanel, {88, 315, 351, 24}, 10, true, {}, kLime},
    {TControlId::kStaticText1, TKind::kLabel, {6, 281, 101, 20}, 13, true, {}, {}},
    {TControlId::kOutSort, TKind::kRadioGroup, {412, 96, 185, 70}, 13, true, kGreen, {}},
    {TControlId::kSortLabel, TKind::kLabel, {231, 128, 181, 20}, 13, true, {}, {}},
};

const char* const kContestItems[] = {
    "IBM-QSO-PARTY-CW", "IBM-QSO-PARTY-SSB", "AP-SPRINT",     "ARRL-10",
    "ARRL-160",         "ARRL-DX-CW",        "ARRL-DX-SSB",   "ARRL-SS-CW",
    "ARRL-SS-SSB",      "ARRL-UHF-AUG",      "ARRL-VHF-JAN",  "ARRL-VHF-JUN",
    "ARRL-VHF-SEP",     "ARRL-RTTY",         "BARTG-RTTY",    "CQ-160-CW",
    "CQ-160-SSB",       "CQ-WPX-CW",         "CQ-WPX-RTTY",   "CQ-WPX-SSB",
    "CQ-VHF",           "CQ-WW-CW",          "CQ-WW-RTTY",    "CQ-WW-SSB",
    "IARU-UHF",         "NAQP-CW",           "NAQP-RTTY",     "NAQP-SSB",
    "NA-SPRINT-CW",     "NA-SPRINT-RTTY",    "NA-SPRINT-SSB", "NEQP",
    "SAC-CW",           "SAC-SSB",           "STEW-PERRY",    "TARA-RTTY",
};

// Boxes break lines where the workflow's texts hold a carriage return.
QString BoxText(const std::string& text) {
  return QString::fromStdString(text).replace(QChar('\r'), QChar('\n'));
}

// Paths are byte strings in the file system's encoding.
QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The drop-down holds 8-bit text, as the ADIF file is written.
QString FromDropDown(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToDropDown(const QString& text) { return text.toLatin1().toStdString(); }

QFont FontOf(const QFont& base, int px, bool bold) {
  QFont font = base;
  font.setPixelSize(px);
  font.setBold(bold);
  return font;
}

void Colour(QWidget* widget, const TControlLook& look) {
  QPalette palette = widget->palette();
  if (look.text.isValid()) {
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
      palette.setColor(QPalette::Active, role, look.text);
      palette.setColor(QPalette::Inactive, role, look.text);
    }
  }
  if (look.background.isValid()) {
    palette.setColor(QPalette::Window, look.background);
    palette.setColor(QPalette::Base, look.background);
    widget->setAutoFillBackground(true);
  }
  widget->setPalette(palette);
}

int MessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
               QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, title, text, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  if (buttons & QMessageBox::Yes) box.setDefaultButton(QMessageBox::Yes);
  return box.exec();
}

}  // namespace

TLogvaneWindow::TLogvaneWindow(TLogTable& table, TAdifExport export_file, const TLogvaneHost& host,
                               QWidget* parent)
    : QWidget(parent) {
  setObjectName("Logvane");
  QFont font = this->font();
  font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setPixelSize(kDefaultFontPx);
  setFont(font);
  setFixedSize(kClientSize);
  CreateControls();
  workflow_ = std::make_unique<TLogvane>(
      table, std::move(export_file),
      TLogvanePorts{static_cast<TLogvaneDialogs&>(*this), static_cast<TLogvaneLists&>(*this),
                    static_cast<TLogvaneView&>(*this), host});
  ConnectEvents();
  CentreOnScreen();
  ShowState();
  workflow_->FormCreate();
}

TLogvaneWindow::~TLogvaneWindow() = default;

void TLogvaneWindow::CreateControls() {
  for (const TControlLook& look : kLooks) {
    QWidget* parent = look.kind == TKind::kButton ? Control(TControlId::kToolBar1) : this;
    QWidget* widget = nullptr;
    switch (look.kind) {
      case TKind::kLabel:
      case TKind::kPanel:
      case TKind::kRightPanel: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        if (look.kind == TKind::kLabel) {
          label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        } else {
          label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
          label->setAlignment(
              (look.kind == TKind::kRightPanel ? Qt::AlignRight : Qt::AlignHCenter) |
              Qt::AlignVCenter);
          label->setMargin(1);
        }
        widget = label;
        break;
      }
      case TKind::kFolderList:
        folder_list_ = new TFolderList(parent);
        // Starts where the process was started, before the file list moves
        // the working folder.
        folder_list_->SetFolder(QDir::currentPath());
        // A plain list of folders: no expand and collapse marks.
        folder_list_->setStyleSheet(
            "QTreeView::item { height: 16px; } QTreeView::branch { image: none; border-image: "
            "none; }");
        widget = folder_list_;
        break;
      case TKind::kFileList:
        file_list_ = new TFileList(kTableFileMask, parent);
        file_list_->setStyleSheet("QListView::item { height: 20px; }");
        widget = file_list_;
        break;
      case TKind::kToolBar: {
        auto* bar = new QFrame(parent);
        bar->setFrameStyle(QFrame::Box | QFrame::Plain);
        bar->setLineWidth(1);
        widget = bar;
        break;
      }
      case TKind::kButton: {
        auto* button = new QToolButton(parent);
        button->setAutoRaise(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        widget = button;
        break;
      }
      case TKind::kDropDown: {
        contest_ = new QComboBox(parent);
        contest_->setEditable(true);
        contest_->setInsertPolicy(QComboBox::NoInsert);
        contest_->setMaxVisibleItems(8);
        for (const char* item : kContestItems) contest_->addItem(QString::fromLatin1(item));
        contest_->setCurrentIndex(-1);
        contest_->setEditText(QString());
        widget = contest_;
        break;
      }
      case TKind::kRadioGroup: {
        auto* group = new QGroupBox(parent);
        sort_buttons_ = new QButtonGroup(group);
        const char* items[] = {"Sequence worked", "Call letters"};
        for (int i = 0; i < 2; ++i) {
          auto* radio = new QRadioButton(QString::fromLatin1(items[i]), group);
          radio->setGeometry(8, 20 + 22 * i, 170, 20);
          sort_buttons_->addButton(radio, i);
        }
        widget = group;
        break;
      }
    }
    widget->setObjectName(ControlName(look.id));
    widget->setGeometry(look.rect);
    widget->setFont(FontOf(font(), look.font_px, look.bold));
    Colour(widget, look);
    controls_[static_cast<size_t>(look.id)] = widget;
  }
}

void TLogvaneWindow::ConnectEvents() {
  TLogvane& flow = *workflow_;
  connect(folder_list_, &TFolderList::folderDoubleClicked, this,
          [&flow] { flow.DirListBoxDblClick(); });
  connect(folder_list_, &TFolderList::folderOpened, this, [this](const QString& folder) {
    if (lists_linked_) file_list_->SetFolder(folder);
  });
  connect(file_list_, &TFileList::clicked, this, [&flow] { flow.FileListBoxClick(); });
  connect(file_list_, &TFileList::changed, this, [&flow] { flow.FileListBoxChange(); });
  connect(file_list_, &TFileList::doubleClicked, this, [&flow] { flow.FileListBoxDblClick(); });
  connect(sort_buttons_, &QButtonGroup::idClicked, this,
          [&flow](int id) { flow.OutSortClick(id); });
  // Only the user's typing and choices: text the program sets raises neither.
  connect(contest_->lineEdit(), &QLineEdit::textEdited, this,
          [&flow](const QString& text) { flow.ContestIDChange(ToDropDown(text)); });
  connect(contest_, &QComboBox::textActivated, this,
          [&flow](const QString& text) { flow.ContestIDChange(ToDropDown(text)); });
  connect(static_cast<QToolButton*>(Control(TControlId::kExtrtBtn)), &QToolButton::clicked, this,
          [&flow] { flow.ExtrtBtnClick(); });
  connect(static_cast<QToolButton*>(Control(TControlId::kExitBtn)), &QToolButton::clicked, this,
          [&flow] { flow.ExitBtnClick(); });
}

void TLogvaneWindow::CentreOnScreen() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = rect();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

bool TLogvaneWindow::event(QEvent* event) {
  // The window system activates the window once at start-up; later
  // activations (after a message box, or back from another program) are
  // not the workflow's activation.
  if (event->type() == QEvent::WindowActivate && !activated_) {
    activated_ = true;
    workflow_->FormActivate();
  }
  return QWidget::event(event);
}

// ---- The view ---------------------------------------------------------

void TLogvaneWindow::ShowState() {
  const TLogvane& flow = *workflow_;
  setWindowTitle(QString::fromStdString(flow.Caption()));
  for (int i = 0; i < kControlCount; ++i) {
    const auto id = static_cast<TControlId>(i);
    const TControlState& state = flow.Control(id);
    QWidget* widget = Control(id);
    widget->setHidden(!state.visible);
    widget->setEnabled(state.enabled);
    if (id == TControlId::kContestID) {
      const QString text = FromDropDown(state.text);
      if (contest_->currentText() != text) contest_->setEditText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      const QString text = QString::fromStdString(state.text);
      label->setText(text);
      if (label->frameShape() != QFrame::NoFrame) label->setToolTip(text);
    } else if (auto* button = qobject_cast<QToolButton*>(widget)) {
      button->setText(QString::fromStdString(state.text));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      group->setTitle(QString::fromStdString(state.text));
    }
  }
  // An exclusive group cannot uncheck its last button; lift that for "none".
  const int index = flow.OutSortItemIndex();
  if (sort_buttons_->checkedId() != index) {
    sort_buttons_->setExclusive(false);
    for (QAbstractButton* button : sort_buttons_->buttons()) {
      button->setChecked(sort_buttons_->id(button) == index);
    }
    sort_buttons_->setExclusive(true);
  }
}

void TLogvaneWindow::CloseWindow() { close(); }

// ---- The lists --------------------------------------------------------

std::string TLogvaneWindow::CurrentFolder() const { return ToPath(folder_list_->Folder()); }

std::string TLogvaneWindow::SelectedFilePath() const {
  return ToPath(file_list_->SelectedFilePath());
}

void TLogvaneWindow::PointFileListAt(const std::string& folder) {
  const QString path = FromPath(folder);
  file_list_->SetFolder(path);
  QDir::setCurrent(path);
}

void TLogvaneWindow::LinkFolderListToFileList() { lists_linked_ = true; }

// ---- The boxes ----------------------------------------------------------

void TLogvaneWindow::Warning(const std::string& text) {
  MessageBox(this, QMessageBox::Warning, "Warning", BoxText(text), QMessageBox::Ok);
}

void TLogvaneWindow::Information(const std::string& text) {
  MessageBox(this, QMessageBox::Information, "Information", BoxText(text), QMessageBox::Ok);
}

TAnswer TLogvaneWindow::Confirm(const std::string& text) {
  switch (MessageBox(this, QMessageBox::Question, "Confirm", BoxText(text),
                     QMessageBox::Yes | QMessageBox::No)) {
    case QMessageBox::Yes: return TAnswer::kYes;
    case QMessageBox::No: return TAnswer::kNo;
    default: return TAnswer::kOther;
  }
}

void TLogvaneWindow::QuestionBeep() { QApplication::beep(); }

void TLogvaneWindow::ErrorBox(const std::string& text) {
  MessageBox(this, QMessageBox::Critical, QGuiApplication::applicationDisplayName(), BoxText(text),
             QMessageBox::Ok);
}

}  // namespace logvane
