// Drawing of the file list's rows: white and skin-coloured stripes, the selected row's fill and
// frame, the square check box and one-line cells cut with an ellipsis. Holds no row data.
#pragma once

#include <QStyledItemDelegate>

inline constexpr int CheckBoxSize = 13;

class TFileRowDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter *p, const QStyleOptionViewItem &option,
             const QModelIndex &index) const override;
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  // A click on the check box flips it.
  bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

  // The check box's place within the first cell.
  static QRect CheckRect(const QRect &cell);
};
