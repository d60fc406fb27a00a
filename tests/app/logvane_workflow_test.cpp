// The main window's workflow driven without a window: every transition of
// its states, every message with its kind and text, the beeps, the contest
// identifier rules and the export's outcomes, with fakes for the table, the
// export and the window system.
#include "app/logvane_workflow.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "app/app_messages.h"
#include "app/caption.h"
#include "app/log_paths.h"
#include "base/errors.h"
#include "base/messages.h"
#include "component/component_messages.h"

namespace logvane {
namespace {

using Log = std::vector<std::string>;

class FakeTable : public TLogTable {
 public:
  explicit FakeTable(Log& log) : log_(log) {}
  void SetTableName(const std::string& path) override {
    log_.push_back("SetTableName " + path);
    if (open) throw EDatabaseError(msg::kDataSetOpen);
    name = path;
  }
  void SetIndexName(const std::string& index) override {
    log_.push_back("SetIndexName " + index);
    index_name = index;
  }
  void Open() override {
    log_.push_back("Open");
    if (!open_error.empty()) throw EDatabaseError(open_error);
    open = true;
  }
  void Close() override {
    log_.push_back("Close");
    open = false;
  }
  bool Active() const override { return open; }
  int TableRecordCount() override {
    if (!open) throw EDatabaseError(msg::kDataSetClosed);
    if (!count_error.empty()) throw EDedaZiRecMgrError(count_error);
    return records;
  }

  std::string name, index_name, open_error, count_error;
  bool open = false;
  int records = 3;

 private:
  Log& log_;
};

// The window system and the host: boxes, beep and error box are logged in
// order; Confirm answers from a script.
class FakeShell : public TLogvaneDialogs,
                  public TLogvaneLists,
                  public TLogvaneView,
                  public TLogvaneHost {
 public:
  explicit FakeShell(Log& log) : log_(log) {}

  void Warning(const std::string& text) override { Box("Warning: " + text); }
  void Information(const std::string& text) override { Box("Information: " + text); }
  TAnswer Confirm(const std::string& text) override {
    Box("Confirm: " + text);
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return TAnswer::kNo;
    }
    TAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void QuestionBeep() override { log_.push_back("Beep"); }
  void ErrorBox(const std::string& text) override { Box("Error: " + text); }

  std::string CurrentFolder() const override { return folder; }
  std::string SelectedFilePath() const override { return selected; }
  void PointFileListAt(const std::string& path) override { log_.push_back("FileList at " + path); }
  void LinkFolderListToFileList() override { log_.push_back("Link lists"); }

  void ShowState() override { ++shows; }
  void CloseWindow() override { log_.push_back("Close window"); }

  std::string ExecutablePath() const override { return "/opt/logvane/bin/logvane"; }
  std::optional<platform::TFileVersion> ExecutableFileVersion() const override { return version; }
  bool FileExists(const std::string& path) const override { return files.count(path) != 0; }

  std::deque<TAnswer> answers;
  std::string folder = "/home/ham/Logs/MYLOG";
  std::string selected = "/home/ham/Logs/MYLOG/LogTabl.mti";
  std::set<std::string> files;
  std::optional<platform::TFileVersion> version = platform::TFileVersion{1, 0, 4, 0};
  int shows = 0;
  int shows_at_last_box = -1;
  std::function<void(const std::string&)> on_box;

 private:
  void Box(const std::string& entry) {
    log_.push_back(entry);
    shows_at_last_box = shows;
    if (on_box) on_box(entry);
  }
  Log& log_;
};

struct ExportCall {
  std::string output_path, log_name, caption, contest_id;
  int sort_choice;
};

// The controls that are hidden and those that are disabled, in creation
// order: one text that pins down every control's state.
std::string Summary(const TLogvane& flow) {
  std::string hidden = "hidden:", disabled = "disabled:";
  for (int i = 0; i < kControlCount; ++i) {
    const auto id = static_cast<TControlId>(i);
    if (!flow.Control(id).visible) hidden += std::string(" ") + ControlName(id);
    if (!flow.Control(id).enabled) disabled += std::string(" ") + ControlName(id);
  }
  return hidden + "; " + disabled;
}

const std::string kStart =
    "hidden: InpCountLabel FileListBox LogTablLabel InpCount OutCountLabel OutCount; "
    "disabled: ExtrtBtn OutSort SortLabel";
const std::string kFolderChosen =
    "hidden: InpCountLabel FileListBox LogTablLabel InpCount OutCountLabel OutCount; "
    "disabled: ExtrtBtn";
const std::string kSortChosen =
    "hidden: InpCountLabel InpCount OutCountLabel OutCount; disabled: ExtrtBtn";
const std::string kTableEmpty =
    "hidden: OutCountLabel OutCount; disabled: ExtrtBtn OutSort SortLabel";
const std::string kTableOpen = "hidden: OutCountLabel OutCount; disabled: OutSort SortLabel";
const std::string kExported =
    "hidden: FileListBox LogTablLabel; disabled: ExtrtBtn OutSort SortLabel";

const std::string kTablePath = "/home/ham/Logs/MYLOG/LogTabl.mti";
const std::string kOutputPath = "/home/ham/Logs/MYLOG/MYLOG.ADI";
const std::string kCaption = "Zentro Logvane v1.04, ADIF Spec v1.00";
const std::string kContestQuestion =
    "Confirm: Select Contest ID or\rleave blank for non contest Log.\rYes to leave blank, No to "
    "select Contest ID.";
const std::string kCreated = "Information: ADIF File:\r" + kOutputPath + "\rhas been created.";
const std::string kOverwrite =
    "Confirm: Output File:\r" + kOutputPath + " already exists,\rDo you wish to overwrite it?";

class WorkflowTest : public ::testing::Test {
 protected:
  WorkflowTest() {
    flow.FormCreate();
    flow.FormActivate();
    log.clear();
  }

  std::string Text(TControlId id) const { return flow.Control(id).text; }

  void ChooseFolder() {
    flow.DirListBoxDblClick();
    flow.FileListBoxChange();  // the folder list opens it and re-reads the files
  }
  void ToSortChosen(int sort = 0) {
    ChooseFolder();
    flow.OutSortClick(sort);
  }
  void DoubleClickTable() {
    flow.FileListBoxClick();
    flow.FileListBoxDblClick();
  }
  void ToTableOpen(int sort = 0) {
    ToSortChosen(sort);
    DoubleClickTable();
    ASSERT_EQ(Summary(flow), kTableOpen);
    log.clear();
  }
  void Generate(std::initializer_list<TAnswer> answers) {
    shell.answers.assign(answers);
    flow.ExtrtBtnClick();
    EXPECT_TRUE(shell.answers.empty()) << "questions left unasked";
  }

  Log log;
  FakeTable table{log};
  FakeShell shell{log};
  std::vector<ExportCall> exports;
  std::string export_error;
  TLogvane flow{table,
                [this](TLogTable& t, const std::string& output_path, const std::string& log_name,
                       int sort_choice, const std::string& caption,
                       const std::string& contest_id) -> int64_t {
                  log.push_back("Export");
                  exports.push_back({output_path, log_name, caption, contest_id, sort_choice});
                  if (!export_error.empty()) throw EInOutError(5, export_error);
                  t.Close();
                  return 4 * table.records + 2;
                },
                TLogvanePorts{shell, shell, shell, shell}};
};

TEST_F(WorkflowTest, StartsWithTheCaptionVersionAndTheFirstStepOnly) {
  EXPECT_EQ(Summary(flow), kStart);
  EXPECT_EQ(flow.OutSortItemIndex(), -1);
  EXPECT_EQ(flow.StartFolder(), "/opt/logvane/bin/");
  EXPECT_EQ(flow.VersionText(), "1.04");
  EXPECT_EQ(flow.Caption(), kCaption);
  EXPECT_EQ(flow.ContestId(), "");
  EXPECT_EQ(Text(TControlId::kExtrtBtn), "Generate ADIF File");
  EXPECT_EQ(Text(TControlId::kLogTablLabel), "<-- 3.  Dbl click   \" LogTabl.mti \" (Input File)");
  EXPECT_EQ(Text(TControlId::kSortLabel), "2.  Select \"Sort Order\"  -->");
  for (TControlId blank :
       {TControlId::kInpCount, TControlId::kOutCount, TControlId::kContestID,
        TControlId::kInputFolder, TControlId::kOutputFile, TControlId::kFileNameOut}) {
    EXPECT_EQ(Text(blank), "") << ControlName(blank);
  }
}

TEST(WorkflowCreation, PointsTheFileListAtTheExecutablesFolderThenLinksTheLists) {
  Log log;
  FakeTable table(log);
  FakeShell shell(log);
  TLogvane flow(table, nullptr, {shell, shell, shell, shell});
  EXPECT_EQ(flow.Caption(), "Zentro Logvane");
  flow.FormCreate();
  EXPECT_EQ(log, (Log{"FileList at /opt/logvane/bin/", "Link lists"}));
}

TEST(WorkflowCreation, EachActivationAddsTheVersionTextAgain) {
  Log log;
  FakeTable table(log);
  FakeShell shell(log);
  shell.version.reset();
  TLogvane flow(table, nullptr, {shell, shell, shell, shell});
  flow.FormActivate();
  EXPECT_EQ(flow.VersionText(), "  ");
  EXPECT_EQ(flow.Caption(), "Zentro Logvane v  , ADIF Spec v1.00");
  shell.version = platform::TFileVersion{2, 10, 3, 7};
  flow.FormActivate();
  EXPECT_EQ(flow.Caption(), "Zentro Logvane v  , ADIF Spec v1.00 v2.103, ADIF Spec v1.00");
}

TEST_F(WorkflowTest, FolderDoubleClickResetsTheStepsButKeepsContestIdButtonAndTable) {
  flow.ContestIDChange("cq-ww-cw");
  ChooseFolder();
  EXPECT_EQ(Summary(flow), kFolderChosen);
  EXPECT_EQ(flow.LogFolder(), "/home/ham/Logs/MYLOG");
  EXPECT_EQ(Text(TControlId::kContestID), "");
  EXPECT_EQ(flow.ContestId(), "CQ-WW-CW");
  EXPECT_TRUE(log.empty()) << log.front();

  // From TableOpen: the button stays enabled and the table open; the item
  // chosen before is cleared; texts are blanked except FileNameOut.
  ToTableOpen(1);
  ChooseFolder();
  EXPECT_EQ(Summary(flow),
            "hidden: InpCountLabel FileListBox LogTablLabel InpCount OutCountLabel "
            "OutCount; disabled:");
  EXPECT_TRUE(table.open);
  EXPECT_EQ(flow.OutSortItemIndex(), -1);
  EXPECT_EQ(Text(TControlId::kInputFolder), "");
  EXPECT_EQ(Text(TControlId::kOutputFile), "");
  EXPECT_EQ(Text(TControlId::kFileNameOut), "MYLOG.ADI");
  EXPECT_EQ(flow.OutputPath(), kOutputPath);
  EXPECT_EQ(log, Log{});
}

TEST_F(WorkflowTest, ChoosingAnOrderShowsTheFileListOnlyWhileTheGroupIsEnabled) {
  flow.OutSortClick(0);  // Start: the group is disabled
  EXPECT_EQ(Summary(flow), kStart);
  ChooseFolder();
  flow.OutSortClick(2);  // not an item
  EXPECT_EQ(Summary(flow), kFolderChosen);
  flow.OutSortClick(1);
  EXPECT_EQ(Summary(flow), kSortChosen);
  EXPECT_EQ(flow.OutSortItemIndex(), 1);
  flow.OutSortClick(0);  // SortChosen -> SortChosen
  EXPECT_EQ(Summary(flow), kSortChosen);
  EXPECT_EQ(flow.OutSortItemIndex(), 0);
}

TEST_F(WorkflowTest, FileListEventsTakeTheFolderAndTheSelection) {
  shell.folder = "/logs/A";
  flow.FileListBoxChange();
  EXPECT_EQ(flow.LogFolder(), "/logs/A");
  EXPECT_EQ(flow.TableFilePath(), "");
  shell.folder = "/logs/B";
  shell.selected = "/logs/B/LogTabl.mti";
  flow.FileListBoxClick();
  EXPECT_EQ(flow.LogFolder(), "/logs/B");
  EXPECT_EQ(flow.TableFilePath(), "/logs/B/LogTabl.mti");
  shell.selected = "";
  flow.FileListBoxClick();
  EXPECT_EQ(flow.TableFilePath(), "");
}

TEST_F(WorkflowTest, OpeningATableWithRecordsFillsTheOutputPanels) {
  ToSortChosen(0);
  DoubleClickTable();
  EXPECT_EQ(log, (Log{"SetTableName " + kTablePath, "SetIndexName NumSentIndx", "Open"}));
  EXPECT_EQ(Summary(flow), kTableOpen);
  EXPECT_TRUE(table.open);
  EXPECT_EQ(Text(TControlId::kInpCount), "3");
  EXPECT_EQ(Text(TControlId::kContestID), "   Select Contest ID -->  ");
  EXPECT_EQ(Text(TControlId::kOutCount), "");
  EXPECT_EQ(flow.LogName(), "MYLOG");
  EXPECT_EQ(Text(TControlId::kInputFolder), "MYLOG");
  EXPECT_EQ(flow.OutputPath(), kOutputPath);
  EXPECT_EQ(Text(TControlId::kOutputFile), "/home/ham/Logs/MYLOG/");
  EXPECT_EQ(Text(TControlId::kFileNameOut), "MYLOG.ADI");
  // The prompt is the program's text: the contest identifier stays empty.
  EXPECT_EQ(flow.ContestId(), "");
}

TEST_F(WorkflowTest, CallLettersOpenTheTableOnTheCallIndex) {
  ToSortChosen(1);
  DoubleClickTable();
  EXPECT_EQ(table.index_name, "Call");
  EXPECT_EQ(Summary(flow), kTableOpen);
}

TEST_F(WorkflowTest, NoSelectedFileWarnsWithoutBeepAndChangesNothing) {
  ToSortChosen();
  shell.selected = "";
  DoubleClickTable();
  EXPECT_EQ(log, Log{"Warning: LogTable File Not Selected"});
  EXPECT_EQ(Summary(flow), kSortChosen);

  // Likewise from TableEmpty.
  shell.selected = kTablePath;
  table.records = 0;
  DoubleClickTable();
  ASSERT_EQ(Summary(flow), kTableEmpty);
  log.clear();
  shell.selected = "";
  DoubleClickTable();
  EXPECT_EQ(log, Log{"Warning: LogTable File Not Selected"});
  EXPECT_EQ(Summary(flow), kTableEmpty);
}

TEST_F(WorkflowTest, AnEmptyTableIsClosedWithABeepAndAWarning) {
  table.records = 0;
  ToSortChosen();
  DoubleClickTable();
  EXPECT_EQ(log, (Log{"SetTableName " + kTablePath, "SetIndexName NumSentIndx", "Open", "Close",
                      "Beep", "Warning: Did you select the correct Log Name?"}));
  EXPECT_EQ(Summary(flow), kTableEmpty);
  EXPECT_FALSE(table.open);
  EXPECT_EQ(Text(TControlId::kInpCount), "0");
  EXPECT_EQ(flow.OutputPath(), "");
  // The window showed the state before the box (and once more at the end).
  EXPECT_EQ(shell.shows_at_last_box, shell.shows - 1);

  // TableEmpty -> TableEmpty, then TableEmpty -> TableOpen.
  DoubleClickTable();
  EXPECT_EQ(Summary(flow), kTableEmpty);
  table.records = 5;
  DoubleClickTable();
  EXPECT_EQ(Summary(flow), kTableOpen);
  EXPECT_EQ(Text(TControlId::kInpCount), "5");
}

TEST_F(WorkflowTest, ASecondTableIsRefusedWhileOneIsOpen) {
  ToTableOpen();
  DoubleClickTable();
  EXPECT_EQ(log, (Log{"SetTableName " + kTablePath,
                      "Error: Cannot perform this operation on an open dataset"}));
  EXPECT_EQ(Summary(flow), kTableOpen);

  // Also after a new folder and order: the open table still wins.
  ChooseFolder();
  shell.folder = "/home/ham/Logs/OTHER";
  flow.FileListBoxChange();
  flow.OutSortClick(1);
  log.clear();
  DoubleClickTable();
  EXPECT_EQ(log.back(), "Error: Cannot perform this operation on an open dataset");
  EXPECT_EQ(Summary(flow), "hidden: InpCountLabel InpCount OutCountLabel OutCount; disabled:");
  EXPECT_EQ(table.name, kTablePath);
}

TEST_F(WorkflowTest, AFailedOpenIsShownAndLeavesTheFileListToTryAgain) {
  table.open_error = kTablePath + " cannot be opened for exclusive use.";
  ToSortChosen();
  DoubleClickTable();
  EXPECT_EQ(log.back(), "Error: " + table.open_error);
  EXPECT_EQ(Summary(flow),
            "hidden: InpCountLabel InpCount OutCountLabel OutCount; "
            "disabled: ExtrtBtn OutSort SortLabel");
  EXPECT_FALSE(table.open);
  table.open_error.clear();
  DoubleClickTable();
  EXPECT_EQ(Summary(flow), kTableOpen);
}

TEST_F(WorkflowTest, ATableThatCannotBeCountedIsClosedAgain) {
  table.count_error = msg::kMtdIoError;
  ToSortChosen();
  DoubleClickTable();
  EXPECT_EQ(log.back(), std::string("Error: ") + msg::kMtdIoError);
  EXPECT_FALSE(table.open);  // else no later table could ever be opened
  table.count_error.clear();
  DoubleClickTable();
  EXPECT_EQ(Summary(flow), kTableOpen);
}

TEST_F(WorkflowTest, AFolderWithoutANameIsRefusedBeforeTheTableOpens) {
  shell.folder = "/";
  shell.selected = "/LogTabl.mti";
  ToSortChosen();
  DoubleClickTable();
  EXPECT_EQ(log, Log{"Warning: The folder / has no name to give the ADIF file.\rPlease keep the "
                     "log in a folder of its own."});
  EXPECT_EQ(Summary(flow), kSortChosen);
  EXPECT_EQ(flow.OutputPath(), "");
}

TEST_F(WorkflowTest, ContestIdIsTheUsersTextUpperCased) {
  flow.ContestIDChange("cq-ww-cw");
  EXPECT_EQ(flow.ContestId(), "CQ-WW-CW");
  EXPECT_EQ(Text(TControlId::kContestID), "cq-ww-cw");
  flow.ContestIDChange("naqp-ssb 2003 \xE9t\xE9");  // only a to z change
  EXPECT_EQ(flow.ContestId(), "NAQP-SSB 2003 \xE9T\xE9");
  flow.ContestIDChange("");
  EXPECT_EQ(flow.ContestId(), "");
  EXPECT_EQ(Summary(flow), kStart);
  EXPECT_EQ(log, Log{});
}

TEST_F(WorkflowTest, ExportWithoutContestIdAsksFirstAndNoChangesNothing) {
  ToTableOpen();
  Generate({TAnswer::kNo});
  EXPECT_EQ(log, (Log{"Beep", kContestQuestion}));
  EXPECT_TRUE(exports.empty());
  EXPECT_EQ(Summary(flow), kTableOpen);
  EXPECT_TRUE(table.open);
  EXPECT_EQ(flow.TableFilePath(), kTablePath);
}

TEST_F(WorkflowTest, ExportReportsTheLineCountThenResetsTheWindow) {
  ToTableOpen();
  // When the information box shows, the count is there and the button off,
  // but the reset has not happened yet.
  std::string state_at_info;
  shell.on_box = [&](const std::string& box) {
    if (box.rfind("Information", 0) == 0)
      state_at_info = Summary(flow) + " " + Text(TControlId::kOutCount);
  };
  Generate({TAnswer::kYes});
  EXPECT_EQ(log, (Log{"Beep", kContestQuestion, "Export", "Close", kCreated}));
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].output_path, kOutputPath);
  EXPECT_EQ(exports[0].log_name, "MYLOG");
  EXPECT_EQ(exports[0].sort_choice, 0);
  EXPECT_EQ(exports[0].caption, kCaption);
  EXPECT_EQ(exports[0].contest_id, "");
  EXPECT_EQ(state_at_info, "hidden:; disabled: ExtrtBtn OutSort SortLabel 14");
  EXPECT_EQ(shell.shows_at_last_box, shell.shows - 1);

  EXPECT_EQ(Summary(flow), kExported);
  EXPECT_EQ(Text(TControlId::kOutCount), "14");
  EXPECT_EQ(flow.TableFilePath(), "");
  EXPECT_EQ(Text(TControlId::kContestID), "   Select Contest ID -->  ");
  EXPECT_EQ(flow.ContestId(), "");
  // The input and output panels keep their texts.
  EXPECT_EQ(Text(TControlId::kInpCount), "3");
  EXPECT_EQ(Text(TControlId::kInputFolder), "MYLOG");
  EXPECT_EQ(Text(TControlId::kOutputFile), "/home/ham/Logs/MYLOG/");
  EXPECT_EQ(Text(TControlId::kFileNameOut), "MYLOG.ADI");

  // Exported -> FolderChosen: the count disappears, the button stays off.
  ChooseFolder();
  EXPECT_EQ(Summary(flow), kFolderChosen);
}

TEST_F(WorkflowTest, AnExistingOutputFileIsOverwrittenOnlyOnYes) {
  shell.files.insert(kOutputPath);
  ToTableOpen(1);
  flow.ContestIDChange("cq-ww-cw");
  Generate({TAnswer::kNo});
  EXPECT_EQ(log, (Log{"Beep", kOverwrite}));
  EXPECT_TRUE(exports.empty());
  EXPECT_EQ(Summary(flow), kTableOpen);

  log.clear();
  Generate({TAnswer::kYes});
  EXPECT_EQ(log, (Log{"Beep", kOverwrite, "Export", "Close", kCreated}));
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].contest_id, "CQ-WW-CW");
  EXPECT_EQ(exports[0].sort_choice, 1);
  EXPECT_EQ(Summary(flow), kExported);
}

TEST_F(WorkflowTest, BothQuestionsComeInOrderWithABeepEach) {
  shell.files.insert(kOutputPath);
  ToTableOpen();
  Generate({TAnswer::kYes, TAnswer::kOther});  // any answer but No goes on
  EXPECT_EQ(log, (Log{"Beep", kContestQuestion, "Beep", kOverwrite, "Export", "Close", kCreated}));
}

TEST_F(WorkflowTest, ASecondExportReusesTheContestIdAndAsksNoContestQuestion) {
  ToTableOpen();
  flow.ContestIDChange("CQ-WPX-SSB");  // picked from the list
  Generate({});
  ASSERT_EQ(Summary(flow), kExported);
  EXPECT_EQ(Text(TControlId::kContestID), "   Select Contest ID -->  ");

  // Next log: the drop-down shows the prompt, the identifier is the old one.
  shell.folder = "/home/ham/Logs/FD2004";
  shell.selected = "/home/ham/Logs/FD2004/LogTabl.mti";
  ToTableOpen(1);
  EXPECT_EQ(Text(TControlId::kContestID), "   Select Contest ID -->  ");
  Generate({});
  ASSERT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[1].contest_id, "CQ-WPX-SSB");
  EXPECT_EQ(exports[1].output_path, "/home/ham/Logs/FD2004/FD2004.ADI");
  EXPECT_EQ(exports[1].log_name, "FD2004");
  EXPECT_EQ(log,
            (Log{"Export", "Close",
                 "Information: ADIF File:\r/home/ham/Logs/FD2004/FD2004.ADI\rhas been created."}));
}

TEST_F(WorkflowTest, AnExportErrorLeavesTheTableOpenAndTheButtonEnabled) {
  ToTableOpen();
  flow.ContestIDChange("x");
  export_error = msg::kTextFileAccessDenied;
  Generate({});
  EXPECT_EQ(log, (Log{"Export", "Error: File access denied"}));
  EXPECT_EQ(Summary(flow), kTableOpen);
  EXPECT_TRUE(table.open);
  EXPECT_EQ(Text(TControlId::kOutCount), "");
  EXPECT_EQ(flow.TableFilePath(), kTablePath);

  // The user can retry.
  export_error.clear();
  log.clear();
  Generate({});
  EXPECT_EQ(Summary(flow), kExported);
}

TEST_F(WorkflowTest, TheOpenTableIsExportedAfterANewFolderInTheOrderItWasOpenedIn) {
  ToTableOpen(0);
  flow.ContestIDChange("NEQP");
  ChooseFolder();
  shell.folder = "/home/ham/Logs/OTHER";
  flow.FileListBoxChange();
  Generate({});  // FolderChosen entered from TableOpen
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].output_path, kOutputPath);
  EXPECT_EQ(exports[0].sort_choice, 0);  // the table's order, not OutSort's "none"
  // Exported; the input count was hidden by the folder double-click.
  EXPECT_EQ(Summary(flow),
            "hidden: InpCountLabel FileListBox LogTablLabel InpCount; "
            "disabled: ExtrtBtn OutSort SortLabel");

  // The same from SortChosen with the other order chosen.
  ChooseFolder();
  flow.OutSortClick(0);
  shell.folder = "/home/ham/Logs/MYLOG";
  DoubleClickTable();
  ChooseFolder();
  flow.OutSortClick(1);
  Generate({});
  ASSERT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[1].sort_choice, 0);
}

TEST_F(WorkflowTest, GenerateIsIgnoredWhileTheButtonIsDisabled) {
  flow.ExtrtBtnClick();
  ToSortChosen();
  flow.ExtrtBtnClick();
  EXPECT_EQ(log, Log{});
  EXPECT_TRUE(exports.empty());
}

TEST_F(WorkflowTest, ExitClosesTheWindowAndTheWindowClosesTheTable) {
  Log log2;
  FakeTable table2(log2);
  FakeShell shell2(log2);
  {
    TLogvane flow2(table2, nullptr, {shell2, shell2, shell2, shell2});
    flow2.FormCreate();
    flow2.DirListBoxDblClick();
    flow2.OutSortClick(0);
    flow2.FileListBoxClick();
    flow2.FileListBoxDblClick();
    ASSERT_TRUE(table2.open);
    log2.clear();
    flow2.ExitBtnClick();
    EXPECT_EQ(log2, Log{"Close window"});
  }
  EXPECT_EQ(log2, (Log{"Close window", "Close"}));
  EXPECT_FALSE(table2.open);
}

TEST(LogPaths, TheLogNameIsTheFoldersLastComponent) {
  EXPECT_EQ(LogNameFromFolder("/home/ham/Logs/MYLOG"), "MYLOG");
  EXPECT_EQ(OutputPathFor("/home/ham/Logs/MYLOG", "MYLOG"), "/home/ham/Logs/MYLOG/MYLOG.ADI");
  EXPECT_EQ(LogNameFromFolder("/MYLOG"), "MYLOG");
  EXPECT_EQ(LogNameFromFolder("MYLOG"), "MYLOG");
  EXPECT_EQ(LogNameFromFolder("M"), "M");
  EXPECT_EQ(LogNameFromFolder(""), "");
  // The last character is never examined.
  EXPECT_EQ(LogNameFromFolder("/"), "/");
  EXPECT_EQ(LogNameFromFolder("/logs/A/"), "A/");
  EXPECT_TRUE(IsUsableLogName("MYLOG"));
  EXPECT_FALSE(IsUsableLogName("/"));
  EXPECT_FALSE(IsUsableLogName("A/"));
  EXPECT_FALSE(IsUsableLogName(""));
}

TEST(Caption, VersionTextJoinsMinorAndReleaseAndDropsTheBuild) {
  EXPECT_EQ(VersionText(platform::TFileVersion{1, 0, 4, 0}), "1.04");
  EXPECT_EQ(VersionText(platform::TFileVersion{1, 0, 4, 9}), "1.04");
  EXPECT_EQ(VersionText(platform::TFileVersion{12, 3, 45, 0}), "12.345");
  EXPECT_EQ(VersionText(std::nullopt), "  ");
  EXPECT_EQ(CaptionWithVersion("Zentro Logvane", "1.04"), kCaption);
}

}  // namespace
}  // namespace logvane
