// Loads the media libraries at run time and binds every entry point into `ff`;
// owns the process-wide codec lock. Knows nothing of what the libraries are used for.
#include "media/loader.h"

#include <cassert>
#include <cstdio>
#include <dlfcn.h>
#include <sys/stat.h>

#include "media/ffapi.h"
#include "media/logger.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

TFFEntries ff;

namespace {

// What a library allocates while it loads and keeps for good is the library's own, not a
// leak of ours; the leak checker is told so (it cannot even name such a library once it
// has been unloaded again).
struct TLoadTimeAllocations {
#if defined(__SANITIZE_ADDRESS__)
  TLoadTimeAllocations() { __lsan_disable(); }
  ~TLoadTimeAllocations() { __lsan_enable(); }
#endif
};

constexpr TLibraryItem kItems[libCount] = {
    {libAVUtil, "avutil", "libavutil.so.57", "avutil_version", LIBAVUTIL_VERSION_MAJOR},
    {libSwResample, "swresample", "libswresample.so.4", "swresample_version",
     LIBSWRESAMPLE_VERSION_MAJOR},
    {libSwScale, "swscale", "libswscale.so.6", "swscale_version", LIBSWSCALE_VERSION_MAJOR},
    {libAVCodec, "avcodec", "libavcodec.so.59", "avcodec_version", LIBAVCODEC_VERSION_MAJOR},
    {libAVFormat, "avformat", "libavformat.so.59", "avformat_version", LIBAVFORMAT_VERSION_MAJOR},
    {libAVFilter, "avfilter", "libavfilter.so.8", "avfilter_version", LIBAVFILTER_VERSION_MAJOR},
    {libAVDevice, "avdevice", "libavdevice.so.59", nullptr, 59},
    {libSDL, "SDL2", "libSDL2-2.0.so.0", "SDL_GetVersion", SDL_MAJOR_VERSION},
};

std::string dlError() {
  const char *e = dlerror();
  return e ? e : "unknown error";
}

std::string format(const char *fmt, const std::string &a, const std::string &b,
                   const std::string &c = {}) {
  char buf[2048];
  std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str(), c.c_str());
  return buf;
}

bool isRegularFile(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

struct LoadError {
  std::string text;
};

} // namespace

const TLibraryItem &TFFmpegLoader::Item(TLibraryId id) { return kItems[id]; }

std::string TFFmpegLoader::LibraryFileName(TLibraryId id) const {
  if (!status_[id].FileName.empty()) return status_[id].FileName;
  return kItems[id].SoName;
}

void TFFmpegLoader::CheckVersion(const TLibraryItem &item, const std::string &fileName,
                                 void *handle) {
  if (!item.VersionProc) return;
  void *sym = dlsym(handle, item.VersionProc);
  if (!sym)
    throw LoadError{format("Load function %s@%s error: %s", item.VersionProc, fileName, dlError())};
  int found;
  if (item.Id == libSDL) {
    SDL_version v{};
    reinterpret_cast<decltype(&::SDL_GetVersion)>(sym)(&v);
    found = v.major;
  } else {
    found = static_cast<int>(reinterpret_cast<unsigned (*)()>(sym)() >> 16);
  }
  if (found != item.Version)
    throw LoadError{format("Load library %s error: %s", fileName,
                           "major version " + std::to_string(found) + " found, " +
                               std::to_string(item.Version) + " expected")};
}

void TFFmpegLoader::Bind(TLibraryId id, const std::string &fileName, void *handle) {
  CheckVersion(kItems[id], fileName, handle);
#define FF_BIND_ENTRY(lib, name)                                                                   \
  if (lib == id) {                                                                                 \
    dlerror();                                                                                     \
    void *sym = dlsym(handle, #name);                                                              \
    if (!sym) throw LoadError{format("Load function %s@%s error: %s", #name, fileName, dlError())}; \
    ff.name = reinterpret_cast<decltype(ff.name)>(sym);                                            \
  }
  FF_ENTRIES(FF_BIND_ENTRY)
#undef FF_BIND_ENTRY
}

void TFFmpegLoader::Clear(TLibraryId id) {
#define FF_CLEAR_ENTRY(lib, name)                                                                  \
  if (lib == id) ff.name = nullptr;
  FF_ENTRIES(FF_CLEAR_ENTRY)
#undef FF_CLEAR_ENTRY
}

bool TFFmpegLoader::LoadLib(TLibraryId id) {
  TLibraryStatus &st = status_[id];
  if (!st.Handle) {
    const std::string fileName = LibraryFileName(id);
    const auto cut = fileName.rfind('/');
    std::string folder = cut == std::string::npos ? std::string() : fileName.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? fileName : fileName.substr(cut + 1);
    if (folder.empty() && !libraryPath_.empty()) {
      folder = libraryPath_;
      if (folder.back() != '/') folder += '/';
    }
    // The folder's copy first; otherwise the system's own search by the bare name.
    const std::string full = folder + name;
    const bool inFolder = !folder.empty() && isRegularFile(full);
    dlerror();
    {
      [[maybe_unused]] TLoadTimeAllocations libraryOwned;
      st.Handle = dlopen(inFolder ? full.c_str() : name.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!st.Handle) {
      lastError_ = format("Load library %s error: %s", full, dlError());
      return false;
    }
  }
  if (!st.Loaded) {
    try {
      Bind(id, LibraryFileName(id), st.Handle);
      st.Loaded = true;
    } catch (const LoadError &e) {
      lastError_ = e.text;
    }
  }
  if (!st.Loaded) {
    UnloadLib(id);
    return false;
  }
  if (id == libAVUtil && autoHookLog_) HookLibraryLog();
  return true;
}

bool TFFmpegLoader::LoadLibs(TLibrarySet set) {
  assert(!set.Empty());
  for (int i = 0; i < libCount; ++i) {
    const auto id = static_cast<TLibraryId>(i);
    if (set.Contains(id) && !LoadLib(id)) {
      UnloadLibs(set);
      return false;
    }
  }
  return true;
}

bool TFFmpegLoader::IsLoaded(TLibraryId id) const {
  return status_[id].Handle && status_[id].Loaded;
}

bool TFFmpegLoader::LibsLoaded(TLibrarySet set) const {
  if (set.Empty()) return false;
  for (int i = 0; i < libCount; ++i)
    if (set.Contains(static_cast<TLibraryId>(i)) && !IsLoaded(static_cast<TLibraryId>(i)))
      return false;
  return true;
}

void TFFmpegLoader::UnloadLib(TLibraryId id) {
  TLibraryStatus &st = status_[id];
  if (st.Loaded) {
    if (id == libAVUtil) UnhookLibraryLog();
    Clear(id);
    st.Loaded = false;
  }
  if (st.Handle) {
    dlclose(st.Handle);
    st.Handle = nullptr;
  }
}

void TFFmpegLoader::UnloadLibs(TLibrarySet set) {
  assert(!set.Empty());
  // Dependents first, so that no library outlives one it needs.
  for (int i = libCount - 1; i >= 0; --i)
    if (set.Contains(static_cast<TLibraryId>(i))) UnloadLib(static_cast<TLibraryId>(i));
}

TFFmpegLoader &FFLoader() {
  static TFFmpegLoader loader;
  return loader;
}

std::recursive_mutex &CodecLock() {
  static std::recursive_mutex lock;
  return lock;
}
