// The one logger of the process: library log lines and the components' messages.
#pragma once

// Routes the media libraries' log output into the logger and applies its level.
// Called by the loader each time the utility library is loaded.
void HookLibraryLog();
// Detaches the hook before the utility library goes away.
void UnhookLibraryLog();
