#include "ScratchPostgres.h"

#include <unistd.h>

#include <random>
#include <stdexcept>

#include "Subprocess.h"

namespace lumivale::test {

namespace {

class Server {
public:
    Server() {
        std::random_device seed;
        // Not below TMPDIR: the server's account must reach it, and a socket path stays short.
        folder_ = "/tmp/lumivale-pg-" + std::to_string(getpid()) + "-" + std::to_string(seed() % 100000);
        Subprocess start(kScript, {"start", folder_, std::to_string(getpid())});
        address_ = start.ReadLine(std::chrono::seconds(60)).value_or("");
        if (start.Wait(std::chrono::seconds(60)) != 0 || address_.empty()) {
            throw std::runtime_error("scratch PostgreSQL did not start: " + start.Stderr());
        }
    }
    ~Server() {
        Subprocess stop(kScript, {"stop", folder_});
        stop.Wait(std::chrono::seconds(60));
    }
    const std::string& Address() const { return address_; }

private:
    static constexpr const char* kScript = LUMIVALE_SCRIPTS "/scratch-postgres.sh";
    std::string folder_;
    std::string address_;
};

}  // namespace

const std::string& ScratchPostgres() {
    static const Server server;
    return server.Address();
}

}  // namespace lumivale::test
