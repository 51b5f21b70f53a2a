// The "render" verb: one picture through the frame renderer with effect and watermark flags.
// Reading and writing the picture is Qt's; the rendering and the flags belong to src/render.
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "render/render_flags.h"
#include "render/renderer.h"

namespace cli {

namespace {

void usage(FILE *out) {
  std::fputs("Usage: marlo-convert render IN OUT [options]\n"
             "Renders the picture IN (BMP or PNG) with effects and watermarks into OUT\n"
             "(.bmp or .png).\n\nOptions:\n",
             out);
  std::fputs(RenderFlagsHelp().c_str(), out);
}

int usageError(const std::string &why) {
  std::fprintf(stderr, "marlo-convert render: %s\n\n", why.c_str());
  usage(stderr);
  return 2;
}

int failure(const std::string &why) {
  std::fprintf(stderr, "marlo-convert render: %s\n", why.c_str());
  return 1;
}

// Fonts need a GUI application; with no display, Qt's offscreen platform serves.
std::unique_ptr<QGuiApplication> guiForFonts() {
  if (QCoreApplication::instance()) return nullptr;
  const auto unset = [](const char *name) {
    const char *v = std::getenv(name);
    return !v || !*v;
  };
  if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "marlo-convert";
  static char *argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int RunRender(int argc, char **argv) {
  TlvFilesRecord rec;
  std::string in, out, error;
  for (int i = 1; i < argc;) {
    switch (ConsumeRenderFlag(argc, argv, i, rec, error)) {
    case TFlagResult::Consumed:
      continue;
    case TFlagResult::Error:
      return usageError(error);
    case TFlagResult::NotRenderFlag:
      break;
    }
    const std::string arg = argv[i++];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') return usageError("unknown option \"" + arg + "\"");
    if (in.empty())
      in = arg;
    else if (out.empty())
      out = arg;
    else
      return usageError("one input and one output only, \"" + arg + "\" is one too many");
  }
  if (out.empty()) return usageError("needs an input and an output picture");
  const QString outFormat = QFileInfo(QString::fromStdString(out)).suffix().toLower();
  if (outFormat != "bmp" && outFormat != "png")
    return usageError("the output must end in .bmp or .png: \"" + out + "\"");

  std::unique_ptr<QGuiApplication> app;
  if (!rec.MarkText.empty()) app = guiForFonts();

  QImageReader reader(QString::fromStdString(in));
  QImage frame = reader.read();
  if (frame.isNull())
    return failure("cannot read \"" + in + "\": " + reader.errorString().toStdString());
  frame.convertTo(QImage::Format_BGR888);

  try {
    RenderFrame(frame, rec);
  } catch (const TRenderError &e) {
    return failure(e.what());
  }

  QImageWriter writer(QString::fromStdString(out), outFormat.toLatin1());
  if (!writer.write(frame))
    return failure("cannot write \"" + out + "\": " + writer.errorString().toStdString());
  return 0;
}

} // namespace cli
