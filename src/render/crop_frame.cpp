// Draws the crop margins' outline with Qt's painter.
// Knows nothing of the crop dialog that sets the margins or of the engine that crops.
#include "render/crop_frame.h"

#include <QPainter>
#include <QPen>

#include "render/render_error.h"

void DrawCropFrame(QImage &frame, const TlvFilesRecord &rec, TCropFrameStyle style) {
  if (!RenderableFrame(frame)) return;
  const int in1 = style == TCropFrameStyle::Inset ? 1 : 0;
  const int in2 = style == TCropFrameStyle::Inset ? 2 : 0;
  const QPoint topLeft(rec.CropLeft + in1, rec.CropTop + in1);
  const QPoint bottomRight(frame.width() - rec.CropRight - in2,
                           frame.height() - rec.CropBottom - in2);

  QPainter painter(&frame);
  if (!painter.isActive()) throw TRenderError("Cannot draw on the frame");
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(QColor(0, 128, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRect(topLeft, QSize(bottomRight.x() - topLeft.x(),
                                        bottomRight.y() - topLeft.y())));
}
