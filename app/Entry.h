#pragma once

namespace lumivale {

// The program: one instance per program folder, the App, the UI loop. Returns the exit code:
// 0 after a normal run or when another instance already runs, 1 when start-up failed.
int RunLauncher(int argc, char** argv);

}  // namespace lumivale
