// The file list.
#include "app/file_list.h"

#include <QDir>
#include <QMouseEvent>

namespace logvane {

TFileList::TFileList(const QString& mask, QWidget* parent) : QListWidget(parent), mask_(mask) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemSelectionChanged, this, &TFileList::changed);
}

void TFileList::SetFolder(const QString& folder) {
  folder_ = QDir::cleanPath(QDir(folder).absolutePath());
  {
    const QSignalBlocker quiet(this);  // one change for the whole re-read
    clear();
    QDir dir(folder_);
    dir.setNameFilters({mask_});  // matched without regard to letter case
    addItems(dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
  }
  emit changed();
}

QString TFileList::SelectedFilePath() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return {};
  return QDir(folder_).filePath(selected.first()->text());
}

void TFileList::mousePressEvent(QMouseEvent* event) {
  QListWidget::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit clicked();
}

void TFileList::mouseDoubleClickEvent(QMouseEvent* event) {
  QListWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

}  // namespace logvane
