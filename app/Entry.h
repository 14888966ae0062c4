#pragma once
#include "DesktopHost.h"

namespace lumivale {

// The program: one instance per program folder, the App, the UI loop. Returns the exit code:
// 0 after a normal run or when another instance already runs, 1 when start-up failed.
// Without --headless the window comes from `desktop`; without a desktop host, or when it cannot
// open a display, the run is headless.
int RunLauncher(int argc, char** argv, const DesktopHostFactory& desktop = {});

}  // namespace lumivale
