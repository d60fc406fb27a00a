// The folder list: the path from the root down to the open folder, then the
// open folder's subfolders, as an always-expanded tree. A double-click opens
// the folder under the mouse, the Enter key the highlighted one.
#pragma once

#include <QString>
#include <QTreeWidget>

namespace logvane {

class TFolderList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TFolderList(QWidget* parent = nullptr);

  // The open folder: an absolute path, no trailing separator except "/".
  QString Folder() const { return folder_; }
  // Opens `folder` without raising folderOpened.
  void SetFolder(const QString& folder);

 signals:
  // The user double-clicked a folder; raised before it is opened.
  void folderDoubleClicked();
  // The user opened a folder (double-click or Enter); the list shows it.
  void folderOpened(const QString& folder);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Open(QTreeWidgetItem* item);

  QString folder_;
};

}  // namespace logvane
