#pragma once
// The file list: one drawn row of 45 pixels per record; selecting a row ticks it.

#include <QStyledItemDelegate>
#include <QTreeView>

namespace pw {

class FileListModel;

class FileRowDelegate : public QStyledItemDelegate {
 public:
  FileRowDelegate(const FileListModel* model, QObject* parent);
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  const FileListModel* model_;
};

class FileListView : public QTreeView {
 public:
  FileListView(FileListModel* model, QWidget* parent);
  // Rows selected now, top to bottom.
  QList<int> selectedRowsInOrder() const;
  int firstSelectedRow() const;
};

}  // namespace pw
