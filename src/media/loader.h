// Loads the media libraries at run time and binds every entry point into `ff`;
// owns the process-wide codec lock. Knows nothing of what the libraries are used for.
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>

// In dependency order: a library is loaded after the ones it needs, so that a
// folder's copies satisfy the later libraries' own dependencies.
enum TLibraryId {
  libAVUtil,
  libSwResample,
  libSwScale,
  libAVCodec,
  libAVFormat,
  libAVFilter,
  libAVDevice, // known, never loaded
  libSDL,
  libCount
};

class TLibrarySet {
public:
  constexpr TLibrarySet() = default;
  constexpr TLibrarySet(std::initializer_list<TLibraryId> ids) {
    for (auto id : ids) bits_ |= 1u << id;
  }
  constexpr bool Contains(TLibraryId id) const { return bits_ & (1u << id); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TLibrarySet operator+(TLibraryId id) const {
    TLibrarySet s = *this;
    s.bits_ |= 1u << id;
    return s;
  }

private:
  unsigned bits_ = 0;
};

inline constexpr TLibrarySet ConverterLibs{libAVUtil, libSwResample, libSwScale,
                                           libAVCodec, libAVFormat, libAVFilter};
inline constexpr TLibrarySet PlayerLibs = ConverterLibs + libSDL;

struct TLibraryItem {
  TLibraryId Id;
  const char *Name;        // base name, e.g. "avcodec"
  const char *SoName;      // default file name, e.g. "libavcodec.so.59"
  const char *VersionProc; // entry returning the library's version, or nullptr
  int Version;             // major version the program was built against, -1 for none
};

struct TLibraryStatus {
  std::string FileName; // override of the default file name; empty means default
  void *Handle = nullptr;
  bool Loaded = false;
};

class TFFmpegLoader {
public:
  static const TLibraryItem &Item(TLibraryId id);

  void SetLibraryPath(const std::string &path) { libraryPath_ = path; }
  const std::string &LibraryPath() const { return libraryPath_; }
  const std::string &LastError() const { return lastError_; }

  // Override slot for a library's file name (a bare name or a full path).
  void SetFileName(TLibraryId id, const std::string &fileName) { status_[id].FileName = fileName; }
  std::string LibraryFileName(TLibraryId id) const;

  bool LoadLib(TLibraryId id);
  bool LoadLibs(TLibrarySet set);
  bool IsLoaded(TLibraryId id) const;
  bool LibsLoaded(TLibrarySet set) const;
  void UnloadLib(TLibraryId id);
  void UnloadLibs(TLibrarySet set);

  bool AutoHookLog() const { return autoHookLog_; }

private:
  void Bind(TLibraryId id, const std::string &fileName, void *handle);
  static void Clear(TLibraryId id);
  static void CheckVersion(const TLibraryItem &item, const std::string &fileName, void *handle);

  TLibraryStatus status_[libCount];
  std::string lastError_;
  std::string libraryPath_;
  bool autoHookLog_ = true;
};

TFFmpegLoader &FFLoader();

// Held around every codec open and close of every task and player, and around
// stream-information probing of a conversion input. Recursive within a thread.
std::recursive_mutex &CodecLock();
using TCodecLockGuard = std::lock_guard<std::recursive_mutex>;
