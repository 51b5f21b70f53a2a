// Draws the text watermark into a frame with Qt's painter.
// Knows nothing of where the text, font and position come from.
#pragma once

#include <QFont>
#include <QImage>
#include <string>

#include "formats/files_record.h"

// The Qt font for a watermark font: the size in points at 96 dots per inch (as the fonts
// were chosen on screen), whatever the frame's own resolution; a font name the system lacks,
// such as the default "MS Sans Serif", becomes the system's sans-serif font.
QFont MarkQFont(const TMarkFont &font);

// Draws UTF-8 text with its top-left corner at (x, y), in the font's colour and styles, with no
// background. Empty text draws nothing. Needs a QGuiApplication (fonts live there); without one,
// or on a frame that is not Format_BGR888, throws TRenderError.
void TextStep(QImage &frame, const std::string &text, const TMarkFont &font, int x, int y);
