// Parses the effect and watermark flags into a TlvFilesRecord through one table of flags.
// Knows nothing of the verbs that use them or of rendering.
#include "render/render_flags.h"

#include <charconv>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Apply = std::function<bool(const char *value, TlvFilesRecord &rec, std::string &why)>;

struct Flag {
  const char *name;
  const char *value; // the value's placeholder in the help, nullptr for a switch
  const char *help;
  Apply apply;
};

bool parseInt(const char *s, int &out) {
  const char *end = s + std::strlen(s);
  auto [p, ec] = std::from_chars(s, end, out);
  return ec == std::errc() && p == end && p != s;
}

Apply intIn(int lo, int hi, std::function<void(TlvFilesRecord &, int)> set) {
  return [=](const char *v, TlvFilesRecord &rec, std::string &why) {
    int n;
    if (!parseInt(v, n)) {
      why = std::string("\"") + v + "\" is not a whole number";
      return false;
    }
    if (n < lo || n > hi) {
      why = std::string(v) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi);
      return false;
    }
    set(rec, n);
    return true;
  };
}

Apply intIn(int TlvFilesRecord::*field, int lo, int hi) {
  return intIn(lo, hi, [=](TlvFilesRecord &rec, int n) { rec.*field = n; });
}

Apply point(int TlvFilesRecord::*fx, int TlvFilesRecord::*fy) {
  return [=](const char *v, TlvFilesRecord &rec, std::string &why) {
    const char *comma = std::strchr(v, ',');
    int x, y;
    if (!comma || !parseInt(std::string(v, comma).c_str(), x) || !parseInt(comma + 1, y)) {
      why = std::string("\"") + v + "\" is not a position X,Y";
      return false;
    }
    rec.*fx = x;
    rec.*fy = y;
    return true;
  };
}

Apply text(std::string TlvFilesRecord::*field) {
  return [=](const char *v, TlvFilesRecord &rec, std::string &) {
    rec.*field = v;
    return true;
  };
}

Apply on(bool TlvFilesRecord::*field) {
  return [=](const char *, TlvFilesRecord &rec, std::string &) {
    rec.*field = true;
    return true;
  };
}

Apply fontStyle(bool TMarkFont::*field) {
  return [=](const char *, TlvFilesRecord &rec, std::string &) {
    rec.MarkFont.*field = true;
    return true;
  };
}

bool fontColor(const char *v, TlvFilesRecord &rec, std::string &why) {
  unsigned rgb = 0;
  const char *end = v + std::strlen(v);
  if (*v == '#' && end - v == 7) {
    auto [p, ec] = std::from_chars(v + 1, end, rgb, 16);
    if (ec == std::errc() && p == end) {
      rec.MarkFont.Color = rgb;
      return true;
    }
  }
  why = std::string("\"") + v + "\" is not a colour #RRGGBB";
  return false;
}

const std::vector<Flag> &flags() {
  static const std::vector<Flag> table = {
      {"--brightness", "N", "0..512, 255 leaves the picture alone",
       intIn(&TlvFilesRecord::Brightness, 0, 512)},
      {"--contrast", "N", "-100..100, 0 leaves the picture alone",
       intIn(&TlvFilesRecord::Contrast, -100, 100)},
      {"--saturation", "N", "0..512, 255 leaves the picture alone",
       intIn(&TlvFilesRecord::Saturation, 0, 512)},
      {"--exposure", "N", "-255..512, 0 leaves the picture alone",
       intIn(&TlvFilesRecord::Exposure, -255, 512)},
      {"--text", "TEXT", "text watermark", text(&TlvFilesRecord::MarkText)},
      {"--text-at", "X,Y", "top-left corner of the text, in pixels",
       point(&TlvFilesRecord::MarkTextX, &TlvFilesRecord::MarkTextY)},
      {"--font", "NAME", "font of the text (missing fonts become sans-serif)",
       [](const char *v, TlvFilesRecord &rec, std::string &) {
         rec.MarkFont.Name = v;
         return true;
       }},
      {"--font-size", "N", "1..500 points (default 8)",
       intIn(1, 500, [](TlvFilesRecord &rec, int n) { rec.MarkFont.Size = n; })},
      {"--font-color", "#RRGGBB", "colour of the text (default #000000)", fontColor},
      {"--bold", nullptr, "bold text", fontStyle(&TMarkFont::Bold)},
      {"--italic", nullptr, "italic text", fontStyle(&TMarkFont::Italic)},
      {"--underline", nullptr, "underlined text", fontStyle(&TMarkFont::Underline)},
      {"--strikeout", nullptr, "struck-out text", fontStyle(&TMarkFont::StrikeOut)},
      {"--image", "FILE", "image watermark (a bitmap file)", text(&TlvFilesRecord::MarkImageFile)},
      {"--image-at", "X,Y", "top-left corner of the image, in pixels",
       point(&TlvFilesRecord::MarkImageX, &TlvFilesRecord::MarkImageY)},
      {"--image-alpha", "N", "0..255, opacity for style 1 (default 168)",
       intIn(&TlvFilesRecord::MarkImageAlpha, 0, 255)},
      {"--image-style", "1|2", "1 alpha blend (default), 2 multiply",
       intIn(&TlvFilesRecord::MarkImageStyle, 1, 2)},
      {"--process-text", nullptr, "apply the effects to the text too",
       on(&TlvFilesRecord::ProcessText)},
      {"--process-image", nullptr, "apply the effects to the image too",
       on(&TlvFilesRecord::ProcessImage)},
  };
  return table;
}

} // namespace

TFlagResult ConsumeRenderFlag(int argc, char **argv, int &i, TlvFilesRecord &rec,
                              std::string &error) {
  if (i >= argc) return TFlagResult::NotRenderFlag;
  for (const Flag &f : flags()) {
    if (std::strcmp(argv[i], f.name) != 0) continue;
    const char *value = "";
    if (f.value) {
      if (i + 1 >= argc) {
        error = std::string(f.name) + " needs a value " + f.value;
        return TFlagResult::Error;
      }
      value = argv[i + 1];
    }
    std::string why;
    if (!f.apply(value, rec, why)) {
      error = std::string(f.name) + ": " + why;
      return TFlagResult::Error;
    }
    i += f.value ? 2 : 1;
    return TFlagResult::Consumed;
  }
  return TFlagResult::NotRenderFlag;
}

std::string RenderFlagsHelp() {
  std::string out;
  for (const Flag &f : flags()) {
    std::string left = std::string("  ") + f.name + (f.value ? std::string(" ") + f.value : "");
    if (left.size() < 26) left.resize(26, ' ');
    out += left + " " + f.help + "\n";
  }
  return out;
}
