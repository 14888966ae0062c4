// Every launcher a test starts inherits this process's environment: unless a test names its own
// peers, the skin site, the backend and the authentication agent's site are a closed port on
// loopback, so no test ever reaches the internet (not even for a name lookup).
#include "Paths.h"
#include "Portable.h"

namespace lumivale::test {
namespace {

const bool kOffline = [] {
    for (const char* name : {"LUMIVALE_LITTLESKIN_BASE", "LUMIVALE_BACKEND_BASE"}) {
        if (!EnvironmentValue(name)) SetEnv(name, "http://127.0.0.1:9");
    }
    if (!EnvironmentValue("LUMIVALE_AUTHLIB_INJECTOR_BASE")) SetEnv("LUMIVALE_AUTHLIB_INJECTOR_BASE", "http://127.0.0.1:9/");
    return true;
}();

}  // namespace
}  // namespace lumivale::test
