// Draws the text watermark with Qt's painter and picks the font it is drawn in.
// Knows nothing of colour effects, images or step order.
#include "render/text_mark.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "render/render_error.h"

QFont MarkQFont(const TMarkFont &font) {
  const QString name = QString::fromStdString(font.Name);
  QFont f;
  if (!name.isEmpty() && QFontDatabase::hasFamily(name)) {
    f.setFamily(name);
  } else {
    f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setStyleHint(QFont::SansSerif);
  }
  // Points at 96 dpi, rounded as the desktop rounds them (8 pt is 11 pixels).
  const int points = std::max(1, font.Size);
  f.setPixelSize(std::max(1, int(std::lround(points * 96.0 / 72.0))));
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  f.setStrikeOut(font.StrikeOut);
  return f;
}

void TextStep(QImage &frame, const std::string &text, const TMarkFont &font, int x, int y) {
  if (text.empty() || !RenderableFrame(frame)) return;
  if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
    throw TRenderError("Cannot draw the text watermark: no QGuiApplication is running");

  QPainter painter(&frame);
  if (!painter.isActive()) throw TRenderError("Cannot draw on the frame");
  const QFont f = MarkQFont(font);
  painter.setFont(f);
  painter.setPen(QColor::fromRgb(font.Color & 0xFFFFFFu));
  painter.setBackgroundMode(Qt::TransparentMode);
  // Qt places text by its baseline; the watermark's position is the top of its line.
  painter.drawText(QPoint(x, y + QFontMetrics(f, &frame).ascent()), QString::fromStdString(text));
}
