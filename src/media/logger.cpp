// The one logger of the process: library log lines and the components' messages.
#include "media/logger.h"

#include "media/ffapi.h"

void HookLibraryLog() {}
void UnhookLibraryLog() {}
