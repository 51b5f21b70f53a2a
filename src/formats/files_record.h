// The per-file record of a file-list row: paths, duration, trim, crop, zoom, picture
// effects and watermarks, with the values a newly added row starts from. Holds data only.
#pragma once

#include <cstdint>
#include <string>

// The watermark text's font. The colour is 0xRRGGBB (the top byte is ignored).
struct TMarkFont {
  std::string Name = "MS Sans Serif"; // falls back to the system's sans-serif font when missing
  int32_t Size = 8;                   // points
  uint32_t Color = 0x000000;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

// No-change values of the effect fields: with these the renderer leaves the frame's colours alone.
inline constexpr int32_t NeutralBrightness = 255;
inline constexpr int32_t NeutralContrast = 0;
inline constexpr int32_t NeutralSaturation = 255;
inline constexpr int32_t NeutralExposure = 0;

struct TlvFilesRecord {
  int32_t OpenIndex = 0;  // position within the open dialog's selection that added the file
  std::string SourceFile; // full source path, UTF-8
  std::string DestFile;   // destination made when the file was added
  int32_t DurationSec = 0;
  int64_t TrimStart = 0;  // microseconds
  int64_t TrimLength = 0; // microseconds; 0 means to the end
  std::string ZoomMode = "lbox"; // "full", "lbox", "pan" or "center"

  // Crop margins in source pixels, and the crop dialog's own values in preview pixels.
  int32_t CropTop = 0, CropLeft = 0, CropBottom = 0, CropRight = 0;
  int32_t CropUpView = 0, CropLeftView = 0, CropDownView = 0, CropRightView = 0;

  // Text watermark; an empty text means none. Positions are frame pixels of its top-left corner,
  // the percentages only restore the dialog's sliders.
  std::string MarkText;
  TMarkFont MarkFont;
  int32_t MarkTextX = 0, MarkTextY = 0;
  int32_t MarkTextHorzPct = 0, MarkTextVertPct = 0;

  // Image watermark (a bitmap file); an empty path means none.
  std::string MarkImageFile;
  int32_t MarkImageX = 0, MarkImageY = 0;
  int32_t MarkImageHorzPct = 0, MarkImageVertPct = 0;
  int32_t MarkImageAlpha = 168; // 0..255, used by style 1
  int32_t MarkImageStyle = 1;   // 1 alpha blend, 2 multiply

  int32_t Brightness = NeutralBrightness; // 0..512
  int32_t Contrast = NeutralContrast;     // -100..100
  int32_t Saturation = NeutralSaturation; // 0..512
  int32_t Exposure = NeutralExposure;     // -255..512

  // Apply the colour effects after drawing the text / the image, so that they change it too.
  bool ProcessText = false;
  bool ProcessImage = false;
};
