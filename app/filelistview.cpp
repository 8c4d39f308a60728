#include "app/filelistview.h"

#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <algorithm>
#include <unordered_set>

#include "app/icons.h"
#include "filelist/filemodel.h"

namespace pw {
namespace {
constexpr int kRowHeight = 45;
const QColor kText(2, 56, 103);
const QColor kSelectedFill(198, 211, 239);
const QColor kEvenFill(237, 245, 254);
const QColor kSelectedLine(219, 233, 251);

void Line(QPainter* p, const QRect& r, const QString& text, Qt::Alignment vertical) {
  const QString shown = p->fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, r.width()));
  p->drawText(r, static_cast<int>(Qt::AlignLeft | vertical | Qt::TextSingleLine), shown);
}
}  // namespace

FileRowDelegate::FileRowDelegate(const FileListModel* model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  QSize s = QStyledItemDelegate::sizeHint(option, index);
  s.setHeight(kRowHeight);
  return s;
}

void FileRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  if (!index.isValid() || index.row() >= model_->rowCount()) return;
  const FileRecord& r = model_->record(index.row());
  const bool selected = option.state & QStyle::State_Selected;
  const QRect cell = option.rect;
  const QColor fill = selected               ? kSelectedFill
                      : index.row() % 2 == 1 ? option.palette.color(QPalette::Base)
                                             : kEvenFill;
  p->save();
  p->fillRect(cell, fill);
  QFont f = option.font;
  f.setPixelSize(12);
  p->setFont(f);
  p->setPen(kText);
  if (index.column() == 0) {
    const QRect label = cell.adjusted(20, 0, 0, 0);
    DrawTickBox(*p, QRect(label.left() - 13, label.top() + (label.height() - 13) / 2, 13, 13),
                selected);
    DrawKindIcon(*p, QRect(label.left() + 7, label.top() + (label.height() - 40) / 2, 40, 40),
                 r.KindIcon);
    QRect text = label.adjusted(50, 8, -50, -8);
    Line(p, text, QString::fromUtf8(r.BaseName).trimmed(), Qt::AlignTop);
    Line(p, text, QString::fromUtf8(r.SizeText).trimmed(), Qt::AlignBottom);
    text.adjust(80, 0, 0, 0);
    Line(p, text, QString::fromUtf8(r.TimesText).trimmed(), Qt::AlignBottom);
  } else {
    // The path ends with "…" where the list ends, even when the column
    // reaches past it.
    QRect text = cell.adjusted(4, 0, -2, 0);
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
      text.setRight(std::min(text.right(), view->viewport()->width() - 3));
    Line(p, text, index.data().toString().trimmed(), Qt::AlignVCenter);
  }
  if (selected) {
    p->setPen(kSelectedLine);
    p->drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
  }
  p->restore();
}

FileListView::FileListView(FileListModel* model, QWidget* parent)
    : QTreeView(parent), records_(model) {
  setObjectName("RzListView1");
  setModel(model);
  setItemDelegate(new FileRowDelegate(model, this));
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAllColumnsShowFocus(true);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  header()->resizeSection(0, 550);
  header()->setStretchLastSection(true);
  header()->setSectionResizeMode(1, QHeaderView::Stretch);
  connect(header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if (section == 0 && !fitting_) nameWidth_ = size;
  });
  header()->setMinimumSectionSize(57);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DropOnly);
  connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { rememberSelection(); });
  connect(model, &QAbstractItemModel::modelReset, this, [this] { restoreSelection(); });
}

void FileListView::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls() && onDrop)
    e->acceptProposedAction();
  else
    e->ignore();
}

void FileListView::dragMoveEvent(QDragMoveEvent* e) {
  if (e->mimeData()->hasUrls() && onDrop)
    e->acceptProposedAction();
  else
    e->ignore();
}

void FileListView::dropEvent(QDropEvent* e) {
  std::vector<std::string> paths;
  for (const QUrl& url : e->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  if (paths.empty() || !onDrop) {
    e->ignore();
    return;
  }
  e->acceptProposedAction();
  onDrop(paths);
}

void FileListView::setNameColumnWidth(int width) {
  nameWidth_ = std::max(100, width);
  fitNameColumn();
}

void FileListView::resizeEvent(QResizeEvent* e) {
  QTreeView::resizeEvent(e);
  fitNameColumn();
}

void FileListView::fitNameColumn() {
  constexpr int kPathAtLeast = 120;
  const int room = viewport()->width() - kPathAtLeast;
  fitting_ = true;
  header()->resizeSection(0, std::max(100, std::min(nameWidth_, room)));
  fitting_ = false;
}

void FileListView::rememberSelection() {
  selectedIds_.clear();
  for (const int row : selectedRowsInOrder()) selectedIds_.push_back(records_->record(row).Id);
  const QModelIndex current = currentIndex();
  currentId_ = current.isValid() ? records_->record(current.row()).Id : 0;
}

void FileListView::restoreSelection() {
  if (selectedIds_.empty() && currentId_ == 0) return;
  const std::unordered_set<std::uint64_t> chosen(selectedIds_.begin(), selectedIds_.end());
  QItemSelection selection;
  int runStart = -1, currentRow = -1;
  const int rows = records_->rowCount();
  for (int row = 0; row <= rows; ++row) {
    const bool in = row < rows && chosen.count(records_->record(row).Id) != 0;
    if (row < rows && currentId_ != 0 && records_->record(row).Id == currentId_) currentRow = row;
    if (in && runStart < 0) runStart = row;
    if (!in && runStart >= 0) {
      selection.select(records_->index(runStart, 0), records_->index(row - 1, 1));
      runStart = -1;
    }
  }
  selectedIds_.clear();
  currentId_ = 0;
  if (currentRow >= 0)
    selectionModel()->setCurrentIndex(records_->index(currentRow, 0),
                                      QItemSelectionModel::NoUpdate);
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

int FileListView::selectedRowCount() const {
  return static_cast<int>(selectedRowsInOrder().size());
}

QList<int> FileListView::selectedRowsInOrder() const {
  // Read from the selection's ranges: asking the selection row by row takes
  // minutes for thousands of scattered rows.
  QList<int> rows;
  for (const QItemSelectionRange& range : selectionModel()->selection())
    if (range.left() == 0)
      for (int row = range.top(); row <= range.bottom(); ++row) rows.append(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

int FileListView::firstSelectedRow() const {
  const QList<int> rows = selectedRowsInOrder();
  return rows.isEmpty() ? -1 : rows.front();
}

}  // namespace pw
