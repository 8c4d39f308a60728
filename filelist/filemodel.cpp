#include "filelist/filemodel.h"

#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "platform/textcodec.h"

namespace pw {
namespace {

// Each folder and file name read on its own, as the name column reads the
// file's name: a GBK folder under a UTF-8 one shows both right.
QString ShownPath(const std::string& path) {
  std::string shown;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    shown += DisplayText(std::string_view(path).substr(start, slash - start));
    if (slash < path.size()) shown += '/';
    start = slash + 1;
  }
  return QString::fromStdString(shown);
}

}  // namespace

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
    if (index.column() == 1) return ShownPath(r.FullPath);
    return QString::fromUtf8(r.BaseName);
  }
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == 0)
    return QCoreApplication::translate(
        "FileListModel",
        "          类型        文件名        大小        修改时间         创建时间");
  return QCoreApplication::translate("FileListModel", "文件路径");
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

int FileListModel::removeIds(const std::vector<std::uint64_t>& ids) {
  if (ids.empty() || records_.empty()) return 0;
  const std::unordered_set<std::uint64_t> gone(ids.begin(), ids.end());
  std::vector<std::pair<int, int>> runs;  // first and last row of each run to remove
  for (std::size_t row = 0; row < records_.size(); ++row) {
    if (gone.count(records_[row].Id) == 0) continue;
    const int r = static_cast<int>(row);
    if (!runs.empty() && runs.back().second == r - 1)
      runs.back().second = r;
    else
      runs.emplace_back(r, r);
  }
  int removed = 0;
  for (const auto& [first, last] : runs) removed += last - first + 1;
  constexpr std::size_t kRunsOneByOne = 8;
  if (runs.size() <= kRunsOneByOne) {
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
      beginRemoveRows({}, it->first, it->second);
      records_.erase(records_.begin() + it->first, records_.begin() + it->second + 1);
      endRemoveRows();
    }
    return removed;
  }
  beginResetModel();
  records_.erase(std::remove_if(records_.begin(), records_.end(),
                                [&](const FileRecord& r) { return gone.count(r.Id) != 0; }),
                 records_.end());
  endResetModel();
  return removed;
}

}  // namespace pw
