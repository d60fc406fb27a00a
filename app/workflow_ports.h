// The window system and the operating system as the main window's workflow
// sees them: four small interfaces that the Qt window (and the tests' fakes)
// implement.
#pragma once

#include <optional>
#include <string>

#include "platform/executable_info.h"

namespace logvane {

enum class TAnswer { kYes, kNo, kOther };

// Modal message boxes, the question beep and the application's error box.
// Texts separate their lines with a carriage return (character 13); a box
// shows each as a line break.
class TLogvaneDialogs {
 public:
  virtual ~TLogvaneDialogs() = default;
  // Title "Warning", button OK.
  virtual void Warning(const std::string& text) = 0;
  // Title "Information", button OK.
  virtual void Information(const std::string& text) = 0;
  // Title "Confirm", buttons Yes and No.
  virtual TAnswer Confirm(const std::string& text) = 0;
  virtual void QuestionBeep() = 0;
  // The error that ended an event handler; the program goes on.
  virtual void ErrorBox(const std::string& text) = 0;
};

// The folder list and the file list of the window.
class TLogvaneLists {
 public:
  virtual ~TLogvaneLists() = default;
  // The folder that the folder list has open: a full path, no trailing
  // separator except for the root.
  virtual std::string CurrentFolder() const = 0;
  // Full path of the file selected in the file list; empty when none.
  virtual std::string SelectedFilePath() const = 0;
  // Shows the files of `folder` in the file list.
  virtual void PointFileListAt(const std::string& folder) = 0;
  // From now on, the folder that the folder list opens becomes the file
  // list's folder.
  virtual void LinkFolderListToFileList() = 0;
};

// The window itself.
class TLogvaneView {
 public:
  virtual ~TLogvaneView() = default;
  // The workflow's caption, values or control states changed: show them.
  virtual void ShowState() = 0;
  // Closes the main window, which ends the program.
  virtual void CloseWindow() = 0;
};

// The operating system.
class TLogvaneHost {
 public:
  virtual ~TLogvaneHost() = default;
  virtual std::string ExecutablePath() const = 0;
  // The fixed file version of the executable's version block; nullopt when
  // it has none.
  virtual std::optional<platform::TFileVersion> ExecutableFileVersion() const = 0;
  // True when a regular file exists at `path`.
  virtual bool FileExists(const std::string& path) const = 0;
};

struct TLogvanePorts {
  TLogvaneDialogs& dialogs;
  TLogvaneLists& lists;
  TLogvaneView& view;
  const TLogvaneHost& host;
};

}  // namespace logvane
