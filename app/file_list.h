// The file list: the files of one folder whose names match a mask (letter
// case ignored), one selectable at a time.
#pragma once

#include <QListWidget>
#include <QString>

namespace logvane {

class TFileList : public QListWidget {
  Q_OBJECT

 public:
  TFileList(const QString& mask, QWidget* parent = nullptr);

  QString Folder() const { return folder_; }
  // Re-reads the list from `folder`; raises changed.
  void SetFolder(const QString& folder);
  // Full path of the selected file; empty when none is selected.
  QString SelectedFilePath() const;

 signals:
  void clicked();
  void doubleClicked();
  // The selection changed or the folder was re-read.
  void changed();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QString mask_;
  QString folder_;
};

}  // namespace logvane
