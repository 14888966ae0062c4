// Load on the reference backend: N concurrent clients send signed play-time uploads over kept-alive
// loopback connections, first to one backend on an SQLite file (the form for one process), then,
// when an address is given, to backend instances sharing one PostgreSQL database (as several
// processes behind a proxy). It prints requests per second, the
// latency percentiles and whether the stored totals equal what was sent. Then, on SQLite, it keeps
// N slow clients in the middle of their request heads and times pings meanwhile.
//
//   lumivale_bench_backend [--clients N] [--requests N] [--backends N] [--slow N] [--postgres ADDRESS]
//
// Defaults: 64 clients, 10000 uploads, 2 backends on PostgreSQL, 64 slow clients. Uploads are signed before the clock starts
// (signing is the launcher's work, not the backend's); each player's seconds lie within the backend's
// window, and every request uses a second of its player once.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BackendServer.h"
#include "KeyStore.h"
#include "RawConnection.h"
#include "SignatureCheck.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using lumivale::backend::BackendServer;

// Seconds of one player used by the uploads, all inside the backend's 300 s window for a while.
constexpr int kSecondsPerPlayer = 200;

struct Settings {
    int clients = 64;
    int requests = 10000;
    int slow = 64;
    int backends = 2;
    std::string postgres;
};

struct Upload {
    std::string path;
    httplib::Headers headers;
    std::string body;
    std::string player;
    std::int64_t seconds;
};

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

// Every upload, signed on all cores with copies of one key.
std::vector<Upload> SignUploads(const Settings& settings, const std::string& keyBlob) {
    const int players = (settings.requests + kSecondsPerPlayer - 1) / kSecondsPerPlayer;
    const std::int64_t firstSecond = NowSeconds() - kSecondsPerPlayer / 2;
    std::vector<Upload> uploads(static_cast<std::size_t>(settings.requests));
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> signers;
    for (unsigned t = 0; t < threads; ++t) {
        signers.emplace_back([&, t] {
            lumivale::KeyStore keys;
            keys.ImportPrivateKey(keyBlob);
            for (std::size_t i = t; i < uploads.size(); i += threads) {
                Upload& upload = uploads[i];
                upload.player = "bench-player-" + std::to_string(i % static_cast<std::size_t>(players));
                upload.seconds = 1 + static_cast<std::int64_t>(i % 600);
                const std::string timestamp =
                    std::to_string(firstSecond + static_cast<std::int64_t>(i / static_cast<std::size_t>(players)));
                upload.path = "/api/playtime/" + upload.player;
                upload.body = "{\"session_seconds\":" + std::to_string(upload.seconds) + "}";
                upload.headers = {{"X-Player-ID", upload.player},
                                  {"X-Timestamp", timestamp},
                                  {"X-Signature", keys.SignBase64(timestamp + upload.player)}};
            }
        });
    }
    for (auto& signer : signers) signer.join();
    return uploads;
}

// Backends on one database, every player's key registered, the uploads sent by N clients.
bool RunLoad(const char* store, const std::string& database, const Settings& settings, int backendCount,
             const std::vector<Upload>& uploads, const std::string& pem) {
    std::vector<std::unique_ptr<BackendServer>> backends;
    for (int b = 0; b < backendCount; ++b) {
        backends.push_back(std::make_unique<BackendServer>(database));
        if (!backends.back()->Start("127.0.0.1", 0)) {
            std::fprintf(stderr, "cannot start the backends\n");
            return false;
        }
    }
    BackendServer& first = *backends.front();
    std::map<std::string, std::int64_t> expected;
    for (const Upload& upload : uploads) {
        if (!expected.contains(upload.player)) first.Store().SaveKey(upload.player, pem, NowSeconds(), NowSeconds());
        expected[upload.player] += upload.seconds;
    }

    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(settings.clients));
    std::atomic<int> failures{0};
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < settings.clients; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client http("127.0.0.1", backends[static_cast<std::size_t>(c) % backends.size()]->Port());
            http.set_keep_alive(true);
            for (std::size_t i = static_cast<std::size_t>(c); i < uploads.size();
                 i += static_cast<std::size_t>(settings.clients)) {
                const auto sent = Clock::now();
                const auto answer = http.Post(uploads[i].path, uploads[i].headers, uploads[i].body, "application/json");
                latencies[static_cast<std::size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                if (!answer || answer->status != 200) ++failures;
            }
        });
    }
    for (auto& client : clients) client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> all;
    for (const auto& each : latencies) all.insert(all.end(), each.begin(), each.end());
    int exact = 0;
    std::int64_t sum = 0;
    for (const auto& [player, total] : expected) {
        exact += first.Store().PlayTime(player) == total ? 1 : 0;
        sum += total;
    }
    std::printf("%-10s %6zu uploads, %3d clients, %d backends: %6.0f requests/s  latency p50 %6.2f ms  p99 %7.2f ms"
                "  failed %d\n",
                store, uploads.size(), settings.clients, backendCount, static_cast<double>(uploads.size()) / seconds,
                Percentile(all, 0.50), Percentile(all, 0.99), failures.load());
    std::printf("%-10s totals: %d of %zu players exact (%lld s sent)\n", store, exact, expected.size(),
                static_cast<long long>(sum));
    return failures == 0 && exact == static_cast<int>(expected.size());
}

// Pings while `slow` clients hold half-sent request heads open.
void RunSlowClients(const fs::path& folder, int slow) {
    BackendServer server((folder / "slow.sqlite").string());
    if (!server.Start("127.0.0.1", 0)) return;
    std::vector<std::unique_ptr<lumivale::test::RawConnection>> open;
    for (int i = 0; i < slow; ++i) {
        open.push_back(std::make_unique<lumivale::test::RawConnection>(server.Port()));
        open.back()->Send("GET /api/ping HTTP/1.1\r\nHost: bench\r\nX-Slow: ");
    }
    httplib::Client http("127.0.0.1", server.Port());
    std::vector<double> pings;
    for (int i = 0; i < 200; ++i) {
        const auto sent = Clock::now();
        const auto answer = http.Get("/api/ping");
        if (answer && answer->status == 200) {
            pings.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        }
        if (i % 20 == 0) {
            for (auto& connection : open) connection->Send("x");  // a byte now and then, never the whole head
        }
    }
    std::printf("slow       %d clients mid-head: %zu of 200 pings answered, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                slow, pings.size(), Percentile(pings, 0.50), Percentile(pings, 0.99), Percentile(pings, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--clients") settings.clients = std::max(1, std::atoi(value.c_str()));
        else if (name == "--requests") settings.requests = std::max(1, std::atoi(value.c_str()));
        else if (name == "--slow") settings.slow = std::max(0, std::atoi(value.c_str()));
        else if (name == "--backends") settings.backends = std::max(1, std::atoi(value.c_str()));
        else if (name == "--postgres") settings.postgres = value;
        else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            return 2;
        }
    }
    std::random_device seed;
    const fs::path folder = fs::temp_directory_path() / ("lumivale-bench-backend-" + std::to_string(seed()));
    fs::create_directories(folder);

    lumivale::KeyStore key;
    std::string signature, pem;
    if (!key.GenerateKey() || !key.SignRegistration(0, "x", signature, pem)) return 1;
    const auto started = Clock::now();
    const std::vector<Upload> uploads = SignUploads(settings, key.ExportPrivateKeyBase64());
    std::printf("signed %zu uploads in %.1f s\n", uploads.size(),
                std::chrono::duration<double>(Clock::now() - started).count());

    bool exact = RunLoad("sqlite", (folder / "load.sqlite").string(), settings, 1, uploads,
                         lumivale::backend::NormalizePem(pem));
    if (!settings.postgres.empty()) {
        exact = RunLoad("postgresql", settings.postgres, settings, settings.backends, uploads,
                        lumivale::backend::NormalizePem(pem)) &&
                exact;
    }
    if (settings.slow > 0) RunSlowClients(folder, settings.slow);
    fs::remove_all(folder);
    return exact ? 0 : 1;
}
