// Runs a frame's steps in the order the process flags choose, for both forms of the renderer.
// The steps themselves live in effects, text_mark and blend; file reading in watermark_image.
#include "render/renderer.h"

#include <array>

namespace {

// Both forms reduce to this: everything placed in frame pixels.
struct Settings {
  const std::string *text;
  const TMarkFont *font;
  int textX, textY;
  const std::string *imageFile;
  int imageX, imageY, alpha, style;
  int brightness, contrast, saturation, exposure;
  bool processText, processImage;
};

enum class Step { Effects, Text, Image };
using Order = std::array<Step, 3>;

// Effects run after a watermark exactly when that watermark's process flag is on, so that
// they change it too. Indexed [processText][processImage].
constexpr Order orders[2][2] = {
    {{Step::Effects, Step::Text, Step::Image}, {Step::Image, Step::Effects, Step::Text}},
    {{Step::Text, Step::Effects, Step::Image}, {Step::Text, Step::Image, Step::Effects}},
};

bool colourActive(int b, int c, int s) {
  return b != NeutralBrightness || c != NeutralContrast || s != NeutralSaturation;
}

void render(QImage &frame, const Settings &s) {
  if (!RenderableFrame(frame)) return;
  // Read the picture before touching the frame: a missing file fails the frame as a whole.
  std::shared_ptr<const QImage> overlay;
  if (!s.imageFile->empty()) overlay = LoadWatermarkImage(*s.imageFile);

  const bool colour = colourActive(s.brightness, s.contrast, s.saturation);
  const bool exposure = s.exposure != NeutralExposure;
  for (Step step : orders[s.processText][s.processImage]) {
    switch (step) {
    case Step::Effects:
      EffectsStep(frame, colour, s.brightness, s.contrast, s.saturation, exposure,
                  static_cast<float>(s.exposure));
      break;
    case Step::Text:
      TextStep(frame, *s.text, *s.font, s.textX, s.textY);
      break;
    case Step::Image:
      if (overlay) ImageBlend(frame, *overlay, s.imageX, s.imageY, s.alpha, s.style);
      break;
    }
  }
}

int percentOf(int size, int pct) { return int(qint64(size) * pct / 100); }

} // namespace

bool RenderActive(const TlvFilesRecord &rec) {
  return colourActive(rec.Brightness, rec.Contrast, rec.Saturation) ||
         rec.Exposure != NeutralExposure || !rec.MarkText.empty() || !rec.MarkImageFile.empty();
}

void RenderFrame(QImage &frame, const TlvFilesRecord &rec) {
  render(frame, {&rec.MarkText, &rec.MarkFont, rec.MarkTextX, rec.MarkTextY, &rec.MarkImageFile,
                 rec.MarkImageX, rec.MarkImageY, rec.MarkImageAlpha, rec.MarkImageStyle,
                 rec.Brightness, rec.Contrast, rec.Saturation, rec.Exposure, rec.ProcessText,
                 rec.ProcessImage});
}

void RenderFrame(QImage &frame, TWaterMarkParams &p) {
  const int textX = percentOf(frame.width(), p.TextHorzPct);
  const int textY = percentOf(frame.height(), p.TextVertPct);
  const int imageX = percentOf(frame.width(), p.ImageHorzPct);
  const int imageY = percentOf(frame.height(), p.ImageVertPct);
  const int style = p.ImageStyle == 1 ? 1 : 2;
  render(frame, {&p.Text, &p.Font, textX, textY, &p.ImageFile, imageX, imageY, p.ImageAlpha, style,
                 p.Brightness, p.Contrast, p.Saturation, p.Exposure, p.ProcessText,
                 p.ProcessImage});
  p.LastTextX = textX;
  p.LastTextY = textY;
  p.LastImageX = imageX;
  p.LastImageY = imageY;
}
