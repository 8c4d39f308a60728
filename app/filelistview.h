#pragma once
// The file list: one drawn row of 45 pixels per record; selecting a row ticks it.

#include <QStyledItemDelegate>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
  // How many rows are selected, counted from the selection's ranges.
  int selectedRowCount() const;
  // The name column's width as the user set it (550 at first); a narrow list
  // shows it narrower so that the path column stays in view.
  int nameColumnWidth() const { return nameWidth_; }
  void setNameColumnWidth(int width);
  // Local files and folders dropped on the list, as file-system paths.
  std::function<void(const std::vector<std::string>&)> onDrop;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void fitNameColumn();
  int nameWidth_ = 550;
  bool fitting_ = false;
  // A reset of the list (many rows removed at once) keeps the files that
  // stay selected, and the current one, selected.
  void rememberSelection();
  void restoreSelection();
  FileListModel* records_;
  std::vector<std::uint64_t> selectedIds_;
  std::uint64_t currentId_ = 0;
};

}  // namespace pw
