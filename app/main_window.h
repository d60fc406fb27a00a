// The main window: the controls of the workflow at their configured places,
// colours and fonts. A thin view: every user event goes to the workflow
// (TLogvane), and after each the window shows the workflow's state. The
// window also carries out the workflow's requests of the window system:
// message boxes, the beep, the error box, the two lists.
//
// Each control's objectName is its workflow name ("ExtrtBtn", "OutSort"...).
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "app/log_table.h"
#include "app/logvane_workflow.h"
#include "app/workflow_ports.h"

class QButtonGroup;
class QComboBox;

namespace logvane {

class TFileList;
class TFolderList;

class TLogvaneWindow : public QWidget,
                       private TLogvaneDialogs,
                       private TLogvaneLists,
                       private TLogvaneView {
  Q_OBJECT

 public:
  // The table, the export and the host must outlive the window. The folder
  // list starts at the process's working folder; the file list at the
  // executable's folder, which becomes the working folder.
  TLogvaneWindow(TLogTable& table, TAdifExport export_file, const TLogvaneHost& host,
                 QWidget* parent = nullptr);
  ~TLogvaneWindow() override;

  TLogvane& Workflow() { return *workflow_; }
  QWidget* Control(TControlId id) const { return controls_[static_cast<size_t>(id)]; }

 protected:
  bool event(QEvent* event) override;

 private:
  void CreateControls();
  void ConnectEvents();
  void CentreOnScreen();

  // TLogvaneDialogs
  void Warning(const std::string& text) override;
  void Information(const std::string& text) override;
  TAnswer Confirm(const std::string& text) override;
  void QuestionBeep() override;
  void ErrorBox(const std::string& text) override;
  // TLogvaneLists
  std::string CurrentFolder() const override;
  std::string SelectedFilePath() const override;
  void PointFileListAt(const std::string& folder) override;
  void LinkFolderListToFileList() override;
  // TLogvaneView
  void ShowState() override;
  void CloseWindow() override;

  std::array<QWidget*, kControlCount> controls_{};
  TFolderList* folder_list_ = nullptr;
  TFileList* file_list_ = nullptr;
  QComboBox* contest_ = nullptr;
  QButtonGroup* sort_buttons_ = nullptr;
  bool lists_linked_ = false;
  bool activated_ = false;
  std::unique_ptr<TLogvane> workflow_;
};

}  // namespace logvane
