// The folder list.
#include "app/folder_list.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

namespace logvane {
namespace {

constexpr int kPathRole = Qt::UserRole;

}  // namespace

TFolderList::TFolderList(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setIndentation(10);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void TFolderList::SetFolder(const QString& folder) {
  folder_ = QDir::cleanPath(QDir(folder).absolutePath());
  clear();
  const QIcon open_icon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);

  // The chain from the root down to the open folder.
  QStringList parts = folder_.split('/', Qt::SkipEmptyParts);
  auto* item = new QTreeWidgetItem(this, QStringList{QStringLiteral("/")});
  item->setData(0, kPathRole, QStringLiteral("/"));
  item->setIcon(0, open_icon);
  QString path;
  for (const QString& part : parts) {
    path += '/' + part;
    item = new QTreeWidgetItem(item, QStringList{part});
    item->setData(0, kPathRole, path);
    item->setIcon(0, open_icon);
  }
  QTreeWidgetItem* open_item = item;

  // The open folder's subfolders.
  const QStringList children =
      QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : children) {
    auto* child = new QTreeWidgetItem(open_item, QStringList{name});
    child->setData(0, kPathRole, folder_ == "/" ? '/' + name : folder_ + '/' + name);
    child->setIcon(0, closed_icon);
  }
  expandAll();
  setCurrentItem(open_item);
  scrollToItem(open_item);
}

void TFolderList::Open(QTreeWidgetItem* item) {
  SetFolder(item->data(0, kPathRole).toString());
  emit folderOpened(folder_);
}

void TFolderList::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (item == nullptr || event->button() != Qt::LeftButton) {
    QTreeWidget::mouseDoubleClickEvent(event);
    return;
  }
  emit folderDoubleClicked();
  Open(item);
}

void TFolderList::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
    Open(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

}  // namespace logvane
