// Frame-hook plug-ins: loading, configuring, calling and releasing them.
// Not the choice of pictures they see.
#include "engine/framehook.h"

TFrameHookList::~TFrameHookList() { Release(); }
bool TFrameHookList::Add(const std::string &) { return false; }
void TFrameHookList::Process(AVFrame *, int64_t) const {}
void TFrameHookList::Process(uint8_t *[4], int[4], int, int, int, int64_t) const {}
void TFrameHookList::Release() { hooks_.clear(); }
std::vector<std::string> SplitHookCommandLine(const std::string &) { return {}; }
