#include <cstdio>
#include <cstdlib>

#include "DesktopHost.h"
#include "Entry.h"

int main(int argc, char** argv) {
    const int code = lumivale::RunLauncher(argc, argv, lumivale::DesktopHostFromLibrary());
    // The App is gone by now, but detached workers (a registration, the backend probe, a Java
    // download) may still be inside the HTTP and TLS libraries. A normal exit would tear those
    // libraries down under them; the process ends here instead, with its output flushed.
    std::fflush(nullptr);
    std::_Exit(code);
}
