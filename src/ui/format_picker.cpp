// Picker rows, their drawing and their mouse rules: a header's glyph area expands or collapses,
// a format row is chosen on the button press, the row under the pointer follows the mouse.
#include "ui/format_picker.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

enum Role { IsGroupRole = Qt::UserRole + 1, CollapsedRole, CodeRole };

const QColor groupColours[] = {QColor(90, 90, 90),   QColor(40, 120, 200), QColor(60, 60, 60),
                               QColor(40, 160, 80),  QColor(30, 30, 140),  QColor(20, 20, 90),
                               QColor(200, 100, 20), QColor(200, 60, 60),  QColor(100, 60, 160),
                               QColor(20, 140, 160), QColor(160, 40, 120), QColor(220, 40, 40)};

class PickerDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override {
    return {PickerWidth, PickerRowHeight};
  }

  void paint(QPainter *p, const QStyleOptionViewItem &option,
             const QModelIndex &index) const override {
    const QRect r = option.rect;
    p->save();
    if (option.state & QStyle::State_Selected) {
      p->fillRect(r, PickerSelectedFill);
      p->setPen(PickerSelectedFrame);
      p->drawRect(r.adjusted(0, 0, -1, -1));
    } else {
      p->fillRect(r, PickerBackground);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    QFont font = option.font;
    if (index.data(IsGroupRole).toBool()) {
      const bool collapsed = index.data(CollapsedRole).toBool();
      p->drawPixmap(r.left() + 2, r.top() + 2, ExpandGlyph(collapsed ? 0 : 1));
      p->drawPixmap(r.left() + 20, r.top() + 2, GroupIcon(index.data(CodeRole).toInt()));
      font.setBold(true);
      p->setFont(font);
      p->setPen(Qt::black);
      p->drawText(r.adjusted(45, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                  option.fontMetrics.elidedText(text, Qt::ElideRight, r.width() - 60));
    } else {
      p->setFont(font);
      p->setPen(PickerFormatText);
      p->drawText(r.adjusted(25, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                  option.fontMetrics.elidedText(text, Qt::ElideRight, r.width() - 30));
    }
    p->restore();
  }
};

} // namespace

QPixmap GroupIcon(int group) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor colour = groupColours[group % std::size(groupColours)];
  p.setBrush(colour);
  p.setPen(colour.darker(140));
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
  QFont f;
  f.setPixelSize(10);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  const QString header = QString::fromStdString(FormatGroupHeader(group));
  QString letter = header.isEmpty() ? QString("?") : header.left(1).toUpper();
  p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, letter);
  return pm;
}

QPixmap ExpandGlyph(int index) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QColor(100, 110, 130));
  p.setBrush(Qt::white);
  p.drawRect(3, 3, 9, 9);
  p.setPen(Qt::black);
  p.drawLine(5, 7, 10, 7);
  if (index == 0) p.drawLine(7, 5, 7, 10);
  return pm;
}

TFormatPicker::TFormatPicker(QWidget *parent) : QListWidget(parent) {
  setObjectName("lst1");
  setItemDelegate(new PickerDelegate(this));
  setMouseTracking(true);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::Box);
  QPalette pal = palette();
  pal.setColor(QPalette::Base, PickerBackground);
  setPalette(pal);
  hide();
}

void TFormatPicker::ClearRows() { clear(); }

void TFormatPicker::AppendGroup(int group, const QString &header, bool collapsed) {
  auto *it = new QListWidgetItem(header, this);
  it->setData(IsGroupRole, true);
  it->setData(CollapsedRole, collapsed);
  it->setData(CodeRole, group);
}

void TFormatPicker::ExpandGroup(int headerRow, int lastPosition) {
  QListWidgetItem *header = item(headerRow);
  if (!header || !header->data(IsGroupRole).toBool()) return;
  if (!header->data(CollapsedRole).toBool()) CollapseGroup(headerRow);
  const int group = header->data(CodeRole).toInt();
  const auto &names = FormatNames();
  int at = headerRow + 1;
  for (int i = 0; i <= lastPosition && i < FormatNamesSize; ++i) {
    if (group >= FormatNamesSize || names[group][i].empty()) continue;
    auto *it = new QListWidgetItem(QString::fromStdString(names[group][i]));
    it->setData(IsGroupRole, false);
    it->setData(CollapsedRole, false);
    it->setData(CodeRole, FormatCode(group, i));
    insertItem(at++, it);
  }
  header->setData(CollapsedRole, false);
}

void TFormatPicker::CollapseGroup(int headerRow) {
  QListWidgetItem *header = item(headerRow);
  if (!header || !header->data(IsGroupRole).toBool()) return;
  while (headerRow + 1 < count() && !item(headerRow + 1)->data(IsGroupRole).toBool())
    delete takeItem(headerRow + 1);
  header->setData(CollapsedRole, true);
}

void TFormatPicker::ToggleGroup(int headerRow) {
  if (Info(headerRow).Collapsed) ExpandGroup(headerRow, 49);
  else CollapseGroup(headerRow);
}

TItemInfo TFormatPicker::Info(int row) const {
  TItemInfo info;
  const QListWidgetItem *it = item(row);
  if (!it) return info;
  info.IsGroupRow = it->data(IsGroupRole).toBool();
  info.IsFormatRow = !info.IsGroupRow;
  info.Collapsed = it->data(CollapsedRole).toBool();
  info.Code = it->data(CodeRole).toInt();
  return info;
}

int TFormatPicker::RowOfName(const QString &name) const {
  const QString wanted = name.trimmed();
  for (int i = 0; i < count(); ++i)
    if (item(i)->text().trimmed() == wanted) return i;
  return -1;
}

int TFormatPicker::FittingHeight() const {
  return std::min(PickerRowHeight * count() + PickerRowHeight, PickerMaxHeight);
}

bool TFormatPicker::viewportEvent(QEvent *event) {
  switch (event->type()) {
  case QEvent::MouseMove: {
    const auto *me = static_cast<QMouseEvent *>(event);
    const int row = indexAt(me->position().toPoint()).row();
    if (row >= 0 && row != currentRow()) setCurrentRow(row);
    return true;
  }
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonDblClick: {
    const auto *me = static_cast<QMouseEvent *>(event);
    emit Clicked();
    if (me->button() != Qt::LeftButton) return true;
    const QPoint pos = me->position().toPoint();
    const int row = indexAt(pos).row();
    if (row < 0) return true;
    const TItemInfo info = Info(row);
    if (info.IsGroupRow) {
      if (pos.x() <= 20 || event->type() == QEvent::MouseButtonDblClick) ToggleGroup(row);
      setCurrentRow(row);
    } else {
      emit FormatChosen(row);
    }
    return true;
  }
  case QEvent::MouseButtonRelease:
    return true;
  default:
    return QListWidget::viewportEvent(event);
  }
}
