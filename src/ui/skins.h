// The seven skins: names in menu order, the file list's odd-row colours, and applying a
// skin's style sheet to the whole application.
#pragma once

#include <QColor>
#include <QString>

struct TSkin {
  const char *Name;     // as the Skin menu shows it
  const char *Sheet;    // style sheet in the program's resources
  QColor OddRow;        // the file list's second, fourth ... rows
};

inline constexpr int SkinCount = 7;
const TSkin &Skin(int index);

// True for 0..6.
bool ValidSkinIndex(int index);
// Applies the skin to every widget of the application and remembers it as the one in force.
// An index outside 0..6 is refused (false) and changes nothing.
bool ApplySkin(int index);
// The skin in force (0 until one is applied).
int CurrentSkin();
// The style sheet text of a skin; throws std::runtime_error when the resource is missing.
QString SkinStyleSheet(int index);
