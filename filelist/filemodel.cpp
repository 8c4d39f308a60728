#include "filelist/filemodel.h"

#include <QString>
#include <algorithm>

namespace pw {

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FileRecord& r = record(index.row());
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    if (index.column() == 1) return QString::fromUtf8(r.FullPath);  // lossy only for display
    return QString::fromUtf8(r.BaseName);
  }
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == 0)
    return QStringLiteral(
        "          类型        文件名        大小        修改时间         创建时间");
  return QStringLiteral("文件路径");
}

void FileListModel::clear() {
  if (records_.empty()) return;
  beginResetModel();
  records_.clear();
  endResetModel();
}

void FileListModel::append(std::vector<FileRecord> more) {
  if (more.empty()) return;
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(more.size()) - 1);
  for (FileRecord& r : more) records_.push_back(std::move(r));
  endInsertRows();
}

void FileListModel::swapWithNext(int row) {
  if (row < 0 || row + 1 >= rowCount()) return;
  beginMoveRows({}, row + 1, row + 1, {}, row);
  std::swap(records_[static_cast<std::size_t>(row)], records_[static_cast<std::size_t>(row) + 1]);
  endMoveRows();
}

void FileListModel::removeAt(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  records_.erase(records_.begin() + row);
  endRemoveRows();
}

int FileListModel::rowOf(std::uint64_t id) const {
  const auto it = std::find_if(records_.begin(), records_.end(),
                               [id](const FileRecord& r) { return r.Id == id; });
  return it == records_.end() ? -1 : static_cast<int>(it - records_.begin());
}

int FileListModel::removeById(std::uint64_t id) {
  const int row = rowOf(id);
  removeAt(row);
  return row;
}

}  // namespace pw
