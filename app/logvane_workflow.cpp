// The main window's workflow: event handlers over held values and control
// states.
#include "app/logvane_workflow.h"

#include <exception>
#include <utility>

#include "app/app_messages.h"
#include "app/caption.h"
#include "app/log_paths.h"

namespace logvane {
namespace {

constexpr const char* kControlNames[kControlCount] = {
    "InpCountLabel", "FileListBox", "DirListBox", "DirLabel",    "FileLabel",  "SelLogLabel",
    "LogTablLabel",  "InpCount",    "ToolBar1",   "ExtrtBtn",    "ExitBtn",    "OutCountLabel",
    "OutCount",      "NameLabel",   "ContestID",  "InputFolder", "OutputFile", "FileNameOut",
    "StaticText1",   "OutSort",     "SortLabel",
};

// Captions of the controls that show one; the panels and the drop-down
// start blank.
constexpr const char* kInitialTexts[kControlCount] = {
    "Records",
    "",
    "",
    "Input Log:",
    "Output File:",
    "<-- 1.  Dbl click desired Log Name (Input)",
    "<-- 3.  Dbl click   \" LogTabl.mti \" (Input File)",
    "",
    "",
    "Generate ADIF File",
    "EXIT",
    "Records",
    "",
    "Contest ID:",
    "",
    "",
    "",
    "",
    "Output Folder:",
    " Output Sort Order ",
    "2.  Select \"Sort Order\"  -->",
};

}  // namespace

const char* ControlName(TControlId id) {
  const auto i = static_cast<int>(id);
  return i >= 0 && i < kControlCount ? kControlNames[i] : "";
}

TLogvane::TLogvane(TLogTable& table, TAdifExport export_file, const TLogvanePorts& ports)
    : table_(table),
      export_file_(std::move(export_file)),
      ports_(ports),
      caption_(kConfiguredCaption) {
  for (int i = 0; i < kControlCount; ++i) controls_[static_cast<size_t>(i)].text = kInitialTexts[i];
  for (TControlId hidden :
       {TControlId::kInpCountLabel, TControlId::kFileListBox, TControlId::kLogTablLabel,
        TControlId::kInpCount, TControlId::kOutCountLabel, TControlId::kOutCount}) {
    Show(hidden, false);
  }
  for (TControlId disabled :
       {TControlId::kExtrtBtn, TControlId::kOutSort, TControlId::kSortLabel}) {
    Enable(disabled, false);
  }
}

TLogvane::~TLogvane() {
  try {
    if (table_.Active()) table_.Close();
  } catch (...) {
    // The window is going away; there is nobody left to tell.
  }
}

template <typename Body>
void TLogvane::Handle(Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    ports_.view.ShowState();
    ports_.dialogs.ErrorBox(e.what());
  }
  ports_.view.ShowState();
}

void TLogvane::FormCreate() {
  Handle([&] {
    start_folder_ = platform::FolderWithSeparator(ports_.host.ExecutablePath());
    ports_.lists.PointFileListAt(start_folder_);
    ports_.lists.LinkFolderListToFileList();
  });
}

void TLogvane::FormActivate() {
  Handle([&] {
    version_text_ = logvane::VersionText(ports_.host.ExecutableFileVersion());
    caption_ = CaptionWithVersion(caption_, version_text_);
  });
}

void TLogvane::DirListBoxDblClick() {
  Handle([&] {
    Enable(TControlId::kOutSort, true);
    out_sort_index_ = -1;
    Enable(TControlId::kSortLabel, true);
    for (TControlId hidden :
         {TControlId::kFileListBox, TControlId::kLogTablLabel, TControlId::kInpCountLabel,
          TControlId::kInpCount, TControlId::kOutCountLabel, TControlId::kOutCount}) {
      Show(hidden, false);
    }
    // Program-set text: ContestId stays as it is.
    for (TControlId blank :
         {TControlId::kInputFolder, TControlId::kOutputFile, TControlId::kContestID}) {
      SetText(blank, "");
    }
  });
}

void TLogvane::OutSortClick(int item_index) {
  Handle([&] {
    if (!Control(TControlId::kOutSort).enabled || (item_index != 0 && item_index != 1)) return;
    out_sort_index_ = item_index;
    Show(TControlId::kFileListBox, true);
    Show(TControlId::kLogTablLabel, true);
  });
}

void TLogvane::FileListBoxClick() {
  Handle([&] {
    log_folder_ = ports_.lists.CurrentFolder();
    table_file_path_ = ports_.lists.SelectedFilePath();
  });
}

void TLogvane::FileListBoxChange() {
  Handle([&] { log_folder_ = ports_.lists.CurrentFolder(); });
}

void TLogvane::FileListBoxDblClick() {
  Handle([&] {
    if (!Control(TControlId::kFileListBox).visible) return;
    OpenTable();
  });
}

void TLogvane::OpenTable() {
  if (table_file_path_.empty()) {
    ports_.view.ShowState();
    ports_.dialogs.Warning(msg::kLogTableNotSelected);
    return;
  }
  // A folder such as the root has no name to give the output file: refuse
  // it here, before anything changes, rather than write a nameless file.
  const std::string log_name = LogNameFromFolder(log_folder_);
  if (!IsUsableLogName(log_name)) {
    ports_.view.ShowState();
    ports_.dialogs.Warning(msg::kNoLogNameHead + log_folder_ + msg::kNoLogNameTail);
    return;
  }

  table_.SetTableName(table_file_path_);
  const int sort_choice = out_sort_index_ == 1 ? 1 : 0;
  table_.SetIndexName(IndexNameFor(sort_choice));
  Enable(TControlId::kOutSort, false);
  Enable(TControlId::kSortLabel, false);
  table_.Open();

  int count = 0;
  try {
    count = table_.TableRecordCount();
  } catch (...) {
    // An open table that cannot be counted could be neither exported nor
    // replaced (the path is refused while open): close it so the user can
    // start over.
    try {
      table_.Close();
    } catch (...) {
    }
    throw;
  }
  Show(TControlId::kInpCountLabel, true);
  Show(TControlId::kInpCount, true);
  SetText(TControlId::kInpCount, std::to_string(count));
  if (count <= 0) {
    table_.Close();
    ports_.view.ShowState();
    ports_.dialogs.QuestionBeep();
    ports_.dialogs.Warning(msg::kWrongLogName);
    return;
  }

  table_sort_choice_ = sort_choice;
  table_folder_ = log_folder_;
  Enable(TControlId::kExtrtBtn, true);
  SetText(TControlId::kContestID, kContestPrompt);
  SetText(TControlId::kOutCount, "");
  log_name_ = log_name;
  SetText(TControlId::kInputFolder, log_name_);
  output_path_ = OutputPathFor(log_folder_, log_name_);
  SetText(TControlId::kOutputFile, log_folder_ + kPathSeparator);
  SetText(TControlId::kFileNameOut, log_name_ + ".ADI");
}

void TLogvane::ContestIDChange(const std::string& text) {
  Handle([&] {
    SetText(TControlId::kContestID, text);
    contest_id_ = ContestIdForExport(text);
  });
}

void TLogvane::ExtrtBtnClick() {
  Handle([&] {
    if (!Control(TControlId::kExtrtBtn).enabled) return;
    Export();
  });
}

void TLogvane::Export() {
  if (contest_id_.empty()) {
    ports_.view.ShowState();
    ports_.dialogs.QuestionBeep();
    if (ports_.dialogs.Confirm(msg::kContestQuestion) == TAnswer::kNo) return;
  }
  if (ports_.host.FileExists(output_path_)) {
    ports_.view.ShowState();
    ports_.dialogs.QuestionBeep();
    const std::string question = msg::kOutputExistsHead + output_path_ + msg::kOutputExistsTail;
    if (ports_.dialogs.Confirm(question) == TAnswer::kNo) return;
  }

  // The user has agreed to replace an existing file.
  const TExportRequest request{table_folder_, table_sort_choice_, contest_id_, output_path_, true,
                               caption_};
  const TExportResult result = ExportLog(table_, export_file_, request);
  if (result.status != TExportStatus::kWritten) return;
  const int64_t line_count = result.lines;

  SetText(TControlId::kOutCount, std::to_string(line_count));
  Show(TControlId::kOutCountLabel, true);
  Show(TControlId::kOutCount, true);
  Enable(TControlId::kExtrtBtn, false);
  ports_.view.ShowState();
  ports_.dialogs.Information(msg::kAdifCreatedHead + output_path_ + msg::kAdifCreatedTail);

  Show(TControlId::kLogTablLabel, false);
  Show(TControlId::kFileListBox, false);
  Enable(TControlId::kOutSort, false);
  Enable(TControlId::kSortLabel, false);
  table_file_path_.clear();
  SetText(TControlId::kContestID, kContestPrompt);
}

void TLogvane::ExitBtnClick() {
  Handle([&] { ports_.view.CloseWindow(); });
}

}  // namespace logvane
