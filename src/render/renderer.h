// The frame renderer: picture effects, text watermark and image watermark in their order, in
// the record form (conversion, trim and crop previews) and the dialog form (effects dialog).
// No window code: the effects dialog fills TWaterMarkParams and reads the positions back.
#pragma once

#include <QImage>
#include <string>

#include "formats/files_record.h"
#include "render/blend.h"
#include "render/crop_frame.h"
#include "render/effects.h"
#include "render/render_error.h"
#include "render/text_mark.h"
#include "render/watermark_image.h"

// What the effects and watermark dialog's controls show, read by the dialog form once per frame.
// The form runs on the player's video thread: the dialog hands it a copy taken under its own
// lock and reads the Last* positions back from that copy.
struct TWaterMarkParams {
  // "Add Text": the text (empty means none), its font, and the position sliders (0..100, percent
  // of the frame).
  std::string Text;
  TMarkFont Font;
  int TextHorzPct = 0, TextVertPct = 0;

  // "Add Image": the picture's path (empty means none), position sliders, alpha slider, and
  // style: 1 for "Transparent style 1" (alpha blend), 2 for style 2 (multiply).
  std::string ImageFile;
  int ImageHorzPct = 0, ImageVertPct = 0;
  int ImageAlpha = 0;
  int ImageStyle = 1;

  // "Effect": the sliders and the two process check boxes, at the dialog's design defaults.
  int Brightness = 256, Contrast = 0, Saturation = 256, Exposure = 0;
  bool ProcessText = false, ProcessImage = false;

  // Written by every rendered frame, drawn or not: the text and image positions in frame
  // pixels, which the dialog stores into the record on Ok. A frame that fails keeps the old ones.
  int LastTextX = 0, LastTextY = 0;
  int LastImageX = 0, LastImageY = 0;
};

// True when the record asks for any change of the frame at all.
bool RenderActive(const TlvFilesRecord &rec);

// Record form: effects and watermarks at their stored pixel positions. The frame must be
// Format_BGR888 and is changed in place. A missing or unreadable image throws TRenderError
// before anything is drawn, so a failed frame stays as it was.
void RenderFrame(QImage &frame, const TlvFilesRecord &rec);

// Dialog form: positions are Trunc(frame size * slider / 100), written back into params.
void RenderFrame(QImage &frame, TWaterMarkParams &params);
