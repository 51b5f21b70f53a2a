// Draws a file's crop margins as a green outline on a preview frame, so the user sees what the
// conversion will keep. Previews only: the conversion crops in the engine and draws nothing.
#pragma once

#include <QImage>

#include "formats/files_record.h"

enum class TCropFrameStyle {
  Exact, // trim and crop previews: corners (left, top) and (width - right, height - bottom)
  Inset  // effects dialog preview: corners moved in by 1 at the top left and 2 at the bottom right
};

// A solid outline 2 pixels wide in RGB (0, 128, 0), nothing filled. The frame must be
// Format_BGR888. Needs no GUI application.
void DrawCropFrame(QImage &frame, const TlvFilesRecord &rec, TCropFrameStyle style);
