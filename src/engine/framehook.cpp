// Frame-hook plug-ins: loading modules, configuring, calling and releasing them.
// Not the choice of pictures they see.
#include "engine/framehook.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "media/ffapi.h"

namespace {

// Modules stay loaded for the life of the process and are shared by every task, as a plug-in
// may keep process-wide state between tasks.
std::mutex &ModuleLock() {
  static std::mutex lock;
  return lock;
}

std::map<std::string, void *> &Modules() {
  static std::map<std::string, void *> modules;
  return modules;
}

// The module's folder is the current directory while it loads; the previous one comes back
// whatever happens.
class DirectorySwitch {
public:
  explicit DirectorySwitch(const std::string &folder) {
    char cwd[PATH_MAX];
    if (folder.empty() || !getcwd(cwd, sizeof cwd)) return;
    saved_ = cwd;
    if (chdir(folder.c_str()) != 0) saved_.clear();
  }
  ~DirectorySwitch() {
    if (!saved_.empty() && chdir(saved_.c_str()) != 0) {
      ff.av_log(nullptr, AV_LOG_ERROR, "Cannot return to folder %s\n", saved_.c_str());
    }
  }
  DirectorySwitch(const DirectorySwitch &) = delete;
  DirectorySwitch &operator=(const DirectorySwitch &) = delete;

private:
  std::string saved_;
};

// Called with the module lock held and the module's folder current.
void *LoadModule(const std::string &module) {
  char resolved[PATH_MAX];
  std::string key = realpath(module.c_str(), resolved) ? resolved : module;
  if (auto it = Modules().find(key); it != Modules().end()) return it->second;
  // A path loads exactly that file; a bare name is looked for in the current folder first.
  std::string path = key;
  if (path.find('/') == std::string::npos && access(path.c_str(), F_OK) == 0) path = "./" + path;
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *why = dlerror();
    ff.av_log(nullptr, AV_LOG_ERROR, "%s\n", why ? why : module.c_str());
    return nullptr;
  }
  Modules()[key] = handle;
  return handle;
}

std::string FolderOf(const std::string &module) {
  size_t slash = module.rfind('/');
  return slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
}

} // namespace

std::vector<std::string> SplitHookCommandLine(const std::string &commandLine) {
  const char separator = commandLine.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= commandLine.size() && parts.size() < 254) {
    size_t end = commandLine.find(separator, i);
    if (end == std::string::npos) end = commandLine.size();
    std::string part = commandLine.substr(i, end - i);
    // Runs of spaces separate like one; "|" keeps empty arguments.
    if (!part.empty() || separator == '|') parts.push_back(part);
    i = end + 1;
  }
  return parts;
}

TFrameHookList::~TFrameHookList() { Release(); }

bool TFrameHookList::Add(const std::string &commandLine) {
  std::vector<std::string> parts = SplitHookCommandLine(commandLine);
  if (parts.empty() || parts[0].empty()) return false;
  const std::string &module = parts[0];
  // The working folder is the whole process's: one plug-in at a time, and Configure runs in the
  // module's folder too, so that it finds the files it names relative to itself.
  std::lock_guard<std::mutex> guard(ModuleLock());
  DirectorySwitch inFolder(FolderOf(module));
  void *handle = LoadModule(module);
  if (!handle) return false;

  Hook hook;
  hook.Module = module;
  hook.Process = reinterpret_cast<FrameHookProcessFn>(dlsym(handle, "Process"));
  auto configure = reinterpret_cast<FrameHookConfigureFn>(dlsym(handle, "Configure"));
  hook.Release = reinterpret_cast<FrameHookReleaseFn>(dlsym(handle, "Release"));
  if (!hook.Process) {
    ff.av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", module.c_str());
    return false;
  }
  if (parts.size() > 1 && !configure) {
    ff.av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", module.c_str());
    return false;
  }
  if (configure) {
    std::vector<char *> argv;
    for (std::string &p : parts) argv.push_back(p.data());
    argv.push_back(nullptr);
    if (configure(&hook.Ctx, int(parts.size()), argv.data()) != 0) {
      ff.av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", module.c_str());
      return false;
    }
  }
  hooks_.push_back(std::move(hook));
  return true;
}

void TFrameHookList::Process(uint8_t *data[4], int linesize[4], int pixFmt, int width, int height,
                             int64_t pts) const {
  for (const Hook &h : hooks_) h.Process(h.Ctx, data, linesize, pixFmt, width, height, pts);
}

void TFrameHookList::Process(AVFrame *frame, int64_t pts) const {
  Process(frame->data, frame->linesize, frame->format, frame->width, frame->height, pts);
}

void TFrameHookList::Release() {
  for (const Hook &h : hooks_)
    if (h.Release) h.Release(h.Ctx);
  hooks_.clear();
}
