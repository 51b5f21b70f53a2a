// The format picker: an owner-drawn list of group headers and formats that expands and
// collapses groups and reports the format the user chose. Knows nothing of the settings file.
#pragma once

#include <QListWidget>
#include <QPixmap>

#include "formats/catalogue.h"

inline constexpr int PickerRowHeight = 20;
inline constexpr int PickerWidth = 316;
inline constexpr int PickerMaxHeight = 386;

// Colours of the picker, the format field and the folder field.
inline const QColor PickerBackground(246, 247, 248);
inline const QColor PickerFormatText(0, 0, 128);
inline const QColor PickerSelectedFill(185, 204, 236);
inline const QColor PickerSelectedFrame(122, 160, 218);

// The group's icon (by group number) and the expand glyph (0 collapsed, 1 expanded).
QPixmap GroupIcon(int group);
QPixmap ExpandGlyph(int index);

class TFormatPicker : public QListWidget {
  Q_OBJECT
public:
  explicit TFormatPicker(QWidget *parent);

  void ClearRows();
  void AppendGroup(int group, const QString &header, bool collapsed);
  // Inserts the group's formats after its header, positions 0..lastPosition, from FormatNames.
  void ExpandGroup(int headerRow, int lastPosition);
  void CollapseGroup(int headerRow);
  void ToggleGroup(int headerRow);
  TItemInfo Info(int row) const;
  // The row whose text, blanks trimmed, equals the name; -1 when none does.
  int RowOfName(const QString &name) const;
  // Height for its rows: 20 per row plus 20, at most 386.
  int FittingHeight() const;

signals:
  void FormatChosen(int row);
  void Clicked();

protected:
  bool viewportEvent(QEvent *event) override;
};
