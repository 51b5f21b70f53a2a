// Running a call on the Qt user-interface thread and waiting for it, and keeping that
// thread responsive while it waits. Knows nothing of windows or media.
#pragma once

#include <chrono>
#include <functional>

// Runs `call` on the user-interface thread (the thread of the QCoreApplication) and
// blocks until it has run; calls it directly when already there or when no application
// exists. An exception thrown by the call is rethrown in the caller. Never deadlocks
// against a user-interface thread that waits with PumpMessages / WaitPumping.
// Throws std::runtime_error when the application goes away before the call could run.
void SyncCall(const std::function<void()> &call);

// Runs `call` on the user-interface thread when its events are next served, without
// waiting (at once when no application exists; on the user-interface thread itself it is
// still run later). Dropped unrun when the application goes away first. A failure of the
// call is logged.
void PostToUIThread(std::function<void()> call);

// True on the user-interface thread (also when no application exists).
bool IsUIThread();

// Dispatches every pending event of the calling thread, then returns.
void PumpMessages();

// Waits until done() is true: on the user-interface thread it keeps dispatching events
// (so workers' SyncCalls are served); elsewhere it just sleeps between checks.
// Returns false when `timeout` (if positive) ran out first.
bool WaitPumping(const std::function<bool()> &done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
