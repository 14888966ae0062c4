#include <cstdio>
#include <cstdlib>

#include "Entry.h"
#include "GtkHost.h"

int main(int argc, char** argv) {
    const int code = lumivale::RunLauncher(argc, argv, lumivale::OpenGtkHost);
    // The App is gone; detached workers (the backend probe, the play-time loops) may still be
    // inside curl or OpenSSL. Ending here skips the libraries' exit clean-ups that would pull
    // their state away under those threads.
    std::fflush(nullptr);
    std::_Exit(code);
}
