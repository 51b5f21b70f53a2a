// The file list's row painting. Colours of the selected row depend on whether the list has
// the keyboard focus; the odd rows take the colour of the skin in force.
#include "ui/file_list_view.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>

#include "ui/skins.h"

QRect TFileRowDelegate::CheckRect(const QRect &cell) {
  return {cell.left() + 4, cell.top() + (cell.height() - CheckBoxSize) / 2, CheckBoxSize,
          CheckBoxSize};
}

QSize TFileRowDelegate::sizeHint(const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const {
  QSize s = QStyledItemDelegate::sizeHint(option, index);
  s.setHeight(std::max(s.height(), 19));
  return s;
}

void TFileRowDelegate::paint(QPainter *p, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const {
  const QRect r = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
  const bool focused = view && view->hasFocus();
  p->save();
  QColor fill = index.row() % 2 == 1 ? Skin(CurrentSkin()).OddRow : QColor(Qt::white);
  if (selected) fill = focused ? QColor(185, 204, 236) : QColor(229, 236, 248);
  p->fillRect(r, fill);
  if (selected) {
    // One frame round the whole row: each cell draws its share of it.
    p->setPen(focused ? QColor(122, 160, 218) : QColor(152, 181, 226));
    p->drawLine(r.topLeft(), r.topRight());
    p->drawLine(r.bottomLeft(), r.bottomRight());
    if (index.column() == 0) p->drawLine(r.topLeft(), r.bottomLeft());
    if (index.column() == index.model()->columnCount() - 1)
      p->drawLine(r.topRight(), r.bottomRight());
  }
  QRect textRect = r.adjusted(3, 0, -3, 0);
  if (index.column() == 0) {
    const QRect box = CheckRect(r);
    p->setPen(QPen(Qt::black, 2));
    p->setBrush(Qt::white);
    p->drawRect(box.adjusted(1, 1, -1, -1));
    if (index.data(Qt::CheckStateRole).toInt() == Qt::Checked) {
      p->setRenderHint(QPainter::Antialiasing);
      p->setPen(QPen(Qt::black, 2));
      const QPointF a(box.left() + 3, box.top() + 6.5), b(box.left() + 5.5, box.bottom() - 3),
          c(box.right() - 2.5, box.top() + 3);
      p->drawPolyline(QList<QPointF>{a, b, c});
    }
    textRect.setLeft(box.right() + 5);
  }
  p->setPen(Qt::black);
  p->setFont(option.font);
  const int align = index.data(Qt::TextAlignmentRole).isValid()
                        ? index.data(Qt::TextAlignmentRole).toInt()
                        : int(Qt::AlignLeft);
  const QString text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                     Qt::ElideRight, textRect.width());
  p->drawText(textRect, (align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine,
              text);
  p->restore();
}

bool TFileRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                                   const QStyleOptionViewItem &option, const QModelIndex &index) {
  if (index.column() != 0) return false;
  if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick) {
    const auto *me = static_cast<QMouseEvent *>(event);
    if (me->button() != Qt::LeftButton || !CheckRect(option.rect).adjusted(-2, -2, 2, 2).contains(
                                              me->position().toPoint()))
      return false;
    if (event->type() == QEvent::MouseButtonDblClick) return true; // no second flip
    const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  }
  return false;
}
