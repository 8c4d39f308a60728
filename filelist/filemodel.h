#pragma once
// The file records behind the list: row i is record i, always. Adding,
// removing or moving a row adds, removes or moves its record with it.

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "filelist/record.h"

namespace pw {

class FileListModel : public QAbstractTableModel {
 public:
  enum Role { RecordRole = Qt::UserRole + 1 };

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const FileRecord& record(int row) const { return records_[static_cast<std::size_t>(row)]; }
  const std::vector<FileRecord>& records() const { return records_; }

  void clear();
  void append(std::vector<FileRecord> records);
  // Exchanges rows `row` and `row + 1`.
  void swapWithNext(int row);
  void removeAt(int row);
  // Removes the row whose record has this id; answers the row it had, or -1.
  int removeById(std::uint64_t id);
  // Removes the rows whose records have these ids, in one pass over the
  // records; answers how many went. Rows in a few runs go run by run; rows
  // scattered over the list go in one reset.
  int removeIds(const std::vector<std::uint64_t>& ids);
  int rowOf(std::uint64_t id) const;

 private:
  std::vector<FileRecord> records_;
};

}  // namespace pw
