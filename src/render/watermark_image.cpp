// Decodes watermark picture files and caches the results by path, size and modification time.
// Does no drawing and knows nothing of frames.
#include "render/watermark_image.h"

#include <QImageReader>
#include <filesystem>
#include <list>
#include <mutex>

#include "render/render_error.h"

namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string path;
  std::uintmax_t size;
  fs::file_time_type mtime;
  std::shared_ptr<const QImage> image;
};

// Conversion and previews use one or two files at a time; a handful covers them.
constexpr size_t cacheLimit = 4;

std::mutex cacheLock;
std::list<Entry> cache; // most recently used first

} // namespace

std::shared_ptr<const QImage> LoadWatermarkImage(const std::string &path) {
  const fs::path file(path); // file names are UTF-8 bytes on this system
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) throw TRenderError("Cannot open file \"" + path + "\". " + ec.message());
  const auto mtime = fs::last_write_time(file, ec);
  if (ec) throw TRenderError("Cannot open file \"" + path + "\". " + ec.message());

  {
    std::lock_guard lock(cacheLock);
    for (auto it = cache.begin(); it != cache.end(); ++it) {
      if (it->path != path) continue;
      if (it->size == size && it->mtime == mtime) {
        cache.splice(cache.begin(), cache, it);
        return cache.front().image;
      }
      cache.erase(it);
      break;
    }
  }

  // Decoding happens outside the lock: another thread's frame need not wait for it.
  QImageReader reader(QString::fromStdString(path));
  QImage image = reader.read();
  if (image.isNull())
    throw TRenderError("Cannot read the image \"" + path + "\": " +
                       reader.errorString().toStdString());
  image.convertTo(QImage::Format_BGR888);
  auto shared = std::make_shared<const QImage>(std::move(image));

  std::lock_guard lock(cacheLock);
  std::erase_if(cache, [&](const Entry &e) { return e.path == path; });
  cache.push_front({path, size, mtime, shared});
  if (cache.size() > cacheLimit) cache.pop_back();
  return shared;
}
