// Every launcher a test starts inherits this process's environment: unless a test names its own
// peers, the skin site, the backend and the authentication agent's site are a closed port on
// loopback, so no test ever reaches the internet (not even for a name lookup).
#include <cstdlib>

namespace lumivale::test {
namespace {

const bool kOffline = [] {
    setenv("LUMIVALE_LITTLESKIN_BASE", "http://127.0.0.1:9", 0);
    setenv("LUMIVALE_BACKEND_BASE", "http://127.0.0.1:9", 0);
    setenv("LUMIVALE_AUTHLIB_INJECTOR_BASE", "http://127.0.0.1:9/", 0);
    return true;
}();

}  // namespace
}  // namespace lumivale::test
