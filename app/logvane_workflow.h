// The main window's workflow without the window: the values the window
// holds, the state of every control, and the event handlers. The Qt window
// (app/main_window.h) forwards each event here and shows the state; tests
// drive the same handlers with fakes of the ports (app/workflow_ports.h).
//
// The user goes through these states (the controls that tell them apart in
// brackets):
//
//   Start         OutSort and SortLabel disabled, FileListBox hidden,
//                 ExtrtBtn disabled
//   FolderChosen  a folder was double-clicked: OutSort enabled, no item
//                 chosen, FileListBox hidden
//   SortChosen    an order was chosen: FileListBox and LogTablLabel shown
//   TableEmpty    the table opened without records: table closed, OutSort
//                 disabled, InpCount shows the count
//   TableOpen     the table is open with records: ExtrtBtn enabled, output
//                 panels filled
//   Exported      an export finished: table closed, FileListBox hidden,
//                 OutSort disabled, OutCount shown, ExtrtBtn disabled
//
// A folder double-click leads from any state to FolderChosen without
// touching the table or ExtrtBtn, so an open table can still be exported
// from FolderChosen and SortChosen; a table file double-click is refused by
// the open table then ("Cannot perform this operation on an open dataset").
//
// Every handler runs to its end on the caller's thread. An error raised
// inside a handler ends it and is shown in the error box; the workflow goes
// on. After every handler, and before every message box, the view is told
// to show the state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/log_export.h"
#include "app/log_table.h"
#include "app/workflow_ports.h"

namespace logvane {

// The window's controls, in creation order.
enum class TControlId {
  kInpCountLabel,
  kFileListBox,
  kDirListBox,
  kDirLabel,
  kFileLabel,
  kSelLogLabel,
  kLogTablLabel,
  kInpCount,
  kToolBar1,
  kExtrtBtn,
  kExitBtn,
  kOutCountLabel,
  kOutCount,
  kNameLabel,
  kContestID,
  kInputFolder,
  kOutputFile,
  kFileNameOut,
  kStaticText1,
  kOutSort,
  kSortLabel,
};
inline constexpr int kControlCount = 21;

// The control's name: "InpCountLabel", "FileListBox", ...
const char* ControlName(TControlId id);

struct TControlState {
  bool visible = true;
  bool enabled = true;
  // Caption, panel text or the drop-down's edit text; empty for the lists
  // and the tool bar.
  std::string text;
};

// What the drop-down shows once a table is open and after an export.
inline constexpr char kContestPrompt[] = "   Select Contest ID -->  ";

class TLogvane {
 public:
  // The workflow keeps references to all of its arguments' objects; they
  // must outlive it.
  TLogvane(TLogTable& table, TAdifExport export_file, const TLogvanePorts& ports);
  // Closes the table when it is open; a failing close is ignored.
  ~TLogvane();
  TLogvane(const TLogvane&) = delete;
  TLogvane& operator=(const TLogvane&) = delete;

  // ---- Held values ----------------------------------------------------
  // Folder of the executable, with a trailing separator.
  const std::string& StartFolder() const { return start_folder_; }
  // The folder list's folder, as of the last file list click or change.
  const std::string& LogFolder() const { return log_folder_; }
  // The selected table file as of the last file list click; cleared after
  // an export.
  const std::string& TableFilePath() const { return table_file_path_; }
  // Set when a table opens with records.
  const std::string& LogName() const { return log_name_; }
  const std::string& OutputPath() const { return output_path_; }
  // The drop-down's text as last changed by the user, upper-cased.
  const std::string& ContestId() const { return contest_id_; }
  const std::string& VersionText() const { return version_text_; }
  const std::string& Caption() const { return caption_; }

  const TControlState& Control(TControlId id) const { return controls_[static_cast<size_t>(id)]; }
  // OutSort's chosen item: -1 none, 0 "Sequence worked", 1 "Call letters".
  int OutSortItemIndex() const { return out_sort_index_; }

  // ---- Event handlers -------------------------------------------------
  // The window was created: StartFolder, the file list at it, the lists
  // linked.
  void FormCreate();
  // The window became the active window: the version text is added to the
  // caption (once per call).
  void FormActivate();
  // The user double-clicked a folder. Runs before the folder list opens it.
  void DirListBoxDblClick();
  // The user chose item `item_index` of OutSort. Ignored while OutSort is
  // disabled or for an index other than 0 and 1.
  void OutSortClick(int item_index);
  void FileListBoxClick();
  // The file list's selection changed or its folder was re-read.
  void FileListBoxChange();
  // The user double-clicked the file list (its click came first).
  void FileListBoxDblClick();
  // The user typed into the drop-down or picked an item; `text` is the
  // drop-down's text now. Never called for text the program sets.
  void ContestIDChange(const std::string& text);
  // The generate button. Ignored while the button is disabled.
  void ExtrtBtnClick();
  void ExitBtnClick();

 private:
  TControlState& Mutable(TControlId id) { return controls_[static_cast<size_t>(id)]; }
  void Show(TControlId id, bool visible) { Mutable(id).visible = visible; }
  void Enable(TControlId id, bool enabled) { Mutable(id).enabled = enabled; }
  void SetText(TControlId id, std::string text) { Mutable(id).text = std::move(text); }
  // Runs a handler's body; an error it raises goes to the error box.
  template <typename Body>
  void Handle(Body&& body);
  void OpenTable();
  void Export();

  TLogTable& table_;
  TAdifExport export_file_;
  TLogvanePorts ports_;

  std::string start_folder_;
  std::string log_folder_;
  std::string table_file_path_;
  std::string log_name_;
  std::string output_path_;
  std::string contest_id_;
  std::string version_text_;
  std::string caption_;
  // The sort choice whose index ordered the table that is open: the export
  // names this order in its header, whatever OutSort shows by then.
  int table_sort_choice_ = 0;
  // The folder of the open table, as of its open.
  std::string table_folder_;

  std::array<TControlState, kControlCount> controls_;
  int out_sort_index_ = -1;
};

}  // namespace logvane
