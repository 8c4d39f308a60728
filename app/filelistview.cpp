#include "app/filelistview.h"

#include <QHeaderView>
#include <QPainter>
#include <algorithm>

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
    Line(p, cell.adjusted(4, 0, -2, 0), index.data().toString().trimmed(), Qt::AlignVCenter);
  }
  if (selected) {
    p->setPen(kSelectedLine);
    p->drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
  }
  p->restore();
}

FileListView::FileListView(FileListModel* model, QWidget* parent) : QTreeView(parent) {
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
  header()->setMinimumSectionSize(57);
}

QList<int> FileListView::selectedRowsInOrder() const {
  QList<int> rows;
  for (const QModelIndex& i : selectionModel()->selectedRows()) rows.append(i.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

int FileListView::firstSelectedRow() const {
  const QList<int> rows = selectedRowsInOrder();
  return rows.isEmpty() ? -1 : rows.front();
}

}  // namespace pw
