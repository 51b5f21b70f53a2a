// Frame-hook plug-ins of a task: loading modules, configuring them, passing pictures through
// them and releasing them. Not the video path that decides which pictures reach them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/framehook_plugin.h"

struct AVFrame;

class TFrameHookList {
public:
  TFrameHookList() = default;
  ~TFrameHookList();
  TFrameHookList(const TFrameHookList &) = delete;
  TFrameHookList &operator=(const TFrameHookList &) = delete;

  // Loads the module of a plug-in command line ("module args..." or "module|arg|arg"),
  // configures it and appends it; false (with the reason logged) when that fails.
  bool Add(const std::string &commandLine);
  bool Empty() const { return hooks_.empty(); }
  size_t Count() const { return hooks_.size(); }

  // Passes a picture to every plug-in in list order; pts in microseconds.
  void Process(AVFrame *frame, int64_t pts) const;
  void Process(uint8_t *data[4], int linesize[4], int pixFmt, int width, int height, int64_t pts) const;

  // Calls each plug-in's Release and forgets the list. Modules stay loaded for reuse.
  void Release();

private:
  struct Hook {
    std::string Module;
    void *Ctx = nullptr;
    FrameHookProcessFn Process = nullptr;
    FrameHookReleaseFn Release = nullptr;
  };
  std::vector<Hook> hooks_;
};

// Splits a plug-in command line: at "|" when it contains one, else at spaces; at most 254 parts.
std::vector<std::string> SplitHookCommandLine(const std::string &commandLine);
