// Skin table and switching. The looks live in the style sheets; only the names, their
// order and the odd-row colours are part of the program's behaviour.
#include "ui/skins.h"

#include <QApplication>
#include <QFile>
#include <stdexcept>

namespace {

const TSkin skins[SkinCount] = {
    {"Default", ":/skins/default.qss", QColor(226, 230, 246)},
    {"Gray", ":/skins/gray.qss", QColor(236, 236, 236)},
    {"Orange", ":/skins/orange.qss", QColor(248, 242, 224)},
    {"Purple", ":/skins/purple.qss", QColor(246, 230, 241)},
    {"Red", ":/skins/red.qss", QColor(247, 225, 225)},
    {"Green", ":/skins/green.qss", QColor(226, 247, 225)},
    {"Light blue", ":/skins/lightblue.qss", QColor(225, 240, 247)},
};

int current = 0;

} // namespace

const TSkin &Skin(int index) { return skins[ValidSkinIndex(index) ? index : 0]; }

bool ValidSkinIndex(int index) { return index >= 0 && index < SkinCount; }

QString SkinStyleSheet(int index) {
  QFile file(Skin(index).Sheet);
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error("Cannot read the skin " + std::string(Skin(index).Sheet) + ": " +
                             file.errorString().toStdString());
  return QString::fromUtf8(file.readAll());
}

bool ApplySkin(int index) {
  if (!ValidSkinIndex(index)) return false;
  qApp->setStyleSheet(SkinStyleSheet(index));
  current = index;
  return true;
}

int CurrentSkin() { return current; }
