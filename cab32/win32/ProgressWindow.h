// Runs the archiver on a worker thread while the calling thread keeps the
// messages flowing: the owner is disabled for the whole call (so the caller's
// dialog takes no input but still repaints), and once the work has taken
// longer than half a second a progress window owned by it shows the file
// being added, the progress by bytes, the time left and a Cancel button.
#pragma once

#include <windows.h>

#include <functional>

#include "cab32/run/RunControl.h"

namespace cab32 {

// Calls work on a new thread and returns when it has returned. work must not throw.
void RunWithProgress(HWND owner, RunControl& control, const std::function<void()>& work);

// The progress window's class name, for tests that look for it.
extern const char kProgressClass[];

} // namespace cab32
