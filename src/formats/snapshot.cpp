// Snapshot files for the preview pane and the progress window, written by one set of rules.
// The pictures come from the caller; this file only scales the small one and saves.
#include "formats/snapshot.h"

#include <QImageWriter>
#include <QPainter>
#include <algorithm>
#include <stdexcept>

#include "formats/global.h"
#include "formats/inifile.h"
#include "formats/settings.h"

QImage MakeSmallSnapshot(const QImage &frame, int width, int height) {
  QImage small(width, height, QImage::Format_RGB32);
  small.fill(Qt::black);
  if (!frame.isNull()) {
    QPainter p(&small);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(0, 0, width, height), frame);
  }
  return small;
}

namespace {

void save(const QImage &picture, const std::string &path, const char *format, int quality,
          TSnapshotResult &result) {
  QImageWriter writer(QString::fromStdString(path), format);
  if (quality >= 0) writer.setQuality(quality);
  if (!writer.write(picture))
    throw std::runtime_error("Cannot write " + path + ": " + writer.errorString().toStdString());
  result.Written.push_back(path);
}

} // namespace

TSnapshotResult SaveSnapshots(const QImage &full, const QImage &small,
                              const TOutputNameSources &sources) {
  TSnapshotResult result;
  if (full.isNull() || full.width() <= 0 || full.height() <= 0) return result;
  const TIniFile ini(sources.SettingsFile.empty() ? GlobalObject().SettingsFile()
                                                  : sources.SettingsFile);
  // A switch counts only when it is exactly 1: 2 or "yes" is off.
  auto on = [&](const char *key) { return ini.ReadInteger(SettingsSection, key, 1) == 1; };
  const bool fullSize = on("snapFullSize"), smallSize = on("snapSmallSize");
  const bool bmp = on("snapBmp"), jpg = on("snapJpg");
  int quality = ini.ReadInteger(SettingsSection, "jpgCmp", 30);
  quality = std::clamp(quality, 1, 100);

  result.Folder = EnsureSettingsFolder("SnapOutPutDir", DefaultOutputFolder(), sources);
  // BMP files of 24-bit pixels, as every viewer reads them.
  const QImage fullRgb = full.convertToFormat(QImage::Format_RGB888);
  const QImage smallRgb = small.convertToFormat(QImage::Format_RGB888);
  if (fullSize && bmp) save(fullRgb, result.Folder + "Snapshot_full.bmp", "bmp", -1, result);
  if (smallSize && bmp) save(smallRgb, result.Folder + "Snapshot_small.bmp", "bmp", -1, result);
  if (fullSize && jpg) save(fullRgb, result.Folder + "Snapshot_full.jpg", "jpeg", quality, result);
  if (smallSize && jpg) save(smallRgb, result.Folder + "Snapshot_small.jpg", "jpeg", quality, result);
  return result;
}
