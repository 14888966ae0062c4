#pragma once
// The backend suite's set-up: a fresh database of either store, a backend on it whose clock the
// test may move, and two launcher clients holding the two test keys.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "AccountTestSupport.h"
#include "BackendServer.h"
#include "CloudClient.h"
#include "HttpTransport.h"
#include "ScratchPostgres.h"
#include "TempHome.h"

namespace lumivale::test {

enum class Store { Sqlite, Postgres };

inline void PrintTo(Store store, std::ostream* out) { *out << (store == Store::Sqlite ? "Sqlite" : "Postgres"); }
inline std::string StoreName(const ::testing::TestParamInfo<Store>& info) { return ::testing::PrintToString(info.param); }

// An empty database: a file in the test's folder, or a schema of its own on the program's server.
inline std::string FreshDatabase(Store store, const TempHome& home) {
    if (store == Store::Sqlite) return (home.root() / "backend.sqlite").string();
    static std::atomic<int> count{0};
    const std::string schema = "t" + std::to_string(++count);
    backend::OpenPostgres(ScratchPostgres(), 1)->Run(("CREATE SCHEMA " + schema).c_str());
    return ScratchPostgres() + "&options=-csearch_path%3D" + schema;  // the store keeps its tables there
}

class BackendFixture {
protected:
    explicit BackendFixture(Store store) : database_(FreshDatabase(store, home)) {}
    ~BackendFixture() { StopServer(); }

    void StopServer() {
        CloseHttpConnections();  // first, or the server waits out the kept-alive connections
        if (server) server->Stop();
    }
    void StartServer() {
        StopServer();
        backend::ServerOptions options{limits, [this] { return NowSeconds() + clockShift.load(); }};
        server = std::make_unique<backend::BackendServer>(database_, options);
        ASSERT_TRUE(server->Start("127.0.0.1", 0));
        for (int key = 0; key < 2; ++key) {
            clients[key] = std::make_unique<CloudClient>(Base());
            ASSERT_TRUE(clients[key]->Keys().ImportPrivateKey(TestKey(key)));
        }
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(server->Port()); }
    CloudClient& Client(int key = 0) { return *clients[key]; }
    // The backend's clock now.
    std::int64_t ServerNow() const { return NowSeconds() + clockShift.load(); }

    TempHome home;
    backend::ConnectionLimits limits;          // of the next StartServer
    std::atomic<std::int64_t> clockShift{0};  // seconds the backend's clock is ahead
    std::unique_ptr<backend::BackendServer> server;
    std::unique_ptr<CloudClient> clients[2];

private:
    std::string database_;
};

}  // namespace lumivale::test
