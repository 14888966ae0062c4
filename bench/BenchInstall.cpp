// Installing a game version from a loopback mirror, timed beside curl's own parallel mode fetching
// the same files from the same server in the same run.
//
//   lumivale_bench_install [--objects N] [--object-size BYTES] [--libraries N] [--library-size BYTES]
//                          [--client-size BYTES] [--rounds N] [--curl PATH] [--folder DIR]
//
// Defaults: 3500 asset objects of 1 to 15 KiB (about 8 KiB on average, as the game's own are),
// 45 libraries of 256 KiB, a 20 MiB client jar, 2 rounds (the better round of each is reported).
// The install is the launcher's own (manifest, version JSON, asset index, then every file, each
// SHA-1 checked) into a fresh game folder per round; curl fetches the same list of addresses with
// --parallel --parallel-max 64.
#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Hash.h"
#include "VersionInstall.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

struct Settings {
    int objects = 3500;
    std::size_t objectSize = 8 * 1024;
    int libraries = 45;
    std::size_t librarySize = 256 * 1024;
    std::size_t clientSize = 20 * 1024 * 1024;
    int rounds = 2;
    std::string curl = "/usr/bin/curl";
    fs::path folder;
};

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    return bytes;
}

std::string Sha1(const std::string& bytes) {
    lumivale::Digest digest(lumivale::DigestKind::Sha1);
    digest.Update(bytes);
    return digest.FinishHex();
}

// Every file of the version by its path on the mirror, in the order curl is given them.
struct Mirror {
    std::vector<std::pair<std::string, std::string>> files;
    std::int64_t totalBytes = 0;

    void Add(std::string path, std::string bytes) {
        totalBytes += static_cast<std::int64_t>(bytes.size());
        files.emplace_back(std::move(path), std::move(bytes));
    }
};

// The version "bench": its JSON names the official hosts under `official`, which the download
// engine maps onto the mirror.
Mirror BuildMirror(const Settings& settings, const std::string& official) {
    Mirror mirror;
    json objects = json::object();
    std::mt19937 sizes(7);
    for (int i = 0; i < settings.objects; ++i) {
        const std::size_t size = 1024 + sizes() % (2 * settings.objectSize - 2048);
        std::string bytes = Bytes(size, 1000u + static_cast<unsigned>(i));
        const std::string hash = Sha1(bytes);
        objects["bench/object-" + std::to_string(i)] = {{"hash", hash}, {"size", bytes.size()}};
        mirror.Add("/assets/" + hash.substr(0, 2) + "/" + hash, std::move(bytes));
    }
    const std::string index = json{{"objects", objects}}.dump();
    const std::string indexSha = Sha1(index);
    json libraries = json::array();
    for (int i = 0; i < settings.libraries; ++i) {
        std::string bytes = Bytes(settings.librarySize, 10u + static_cast<unsigned>(i));
        const std::string path = "org/bench/lib" + std::to_string(i) + "/1.0/lib" + std::to_string(i) + "-1.0.jar";
        libraries.push_back({{"name", "org.bench:lib" + std::to_string(i) + ":1.0"},
                             {"downloads", {{"artifact", {{"path", path}, {"url", official + "libraries/" + path},
                                                          {"sha1", Sha1(bytes)}, {"size", bytes.size()}}}}}});
        mirror.Add("/libraries/" + path, std::move(bytes));
    }
    std::string client = Bytes(settings.clientSize, 3);
    const std::string clientSha = Sha1(client);
    const std::string version =
        json{{"id", "bench"}, {"type", "release"}, {"mainClass", "Game"}, {"libraries", libraries},
             {"assetIndex", {{"id", "bench-index"}, {"sha1", indexSha}, {"size", index.size()},
                             {"url", official + "meta/v1/packages/" + indexSha + "/bench-index.json"}}},
             {"downloads", {{"client", {{"sha1", clientSha}, {"size", client.size()},
                                        {"url", official + "data/v1/objects/" + clientSha + "/client.jar"}}}}}}
            .dump();
    const std::string versionSha = Sha1(version);
    const std::string manifest =
        json{{"latest", {{"release", "bench"}, {"snapshot", "bench"}}},
             {"versions", {{{"id", "bench"}, {"type", "release"}, {"sha1", versionSha},
                            {"url", official + "meta/v1/packages/" + versionSha + "/bench.json"}}}}}
            .dump();
    mirror.Add("/mc/game/version_manifest_v2.json", manifest);
    mirror.Add("/v1/packages/" + versionSha + "/bench.json", version);
    mirror.Add("/v1/packages/" + indexSha + "/bench-index.json", index);
    mirror.Add("/v1/objects/" + clientSha + "/client.jar", std::move(client));
    // Small files first, as the install meets them; the order does not matter to curl's pool.
    std::rotate(mirror.files.begin(), mirror.files.end() - 4, mirror.files.end());
    return mirror;
}

// The mirror in a child process, so that this process's CPU time is the launcher's alone.
class MirrorProcess {
public:
    explicit MirrorProcess(const Mirror& mirror) {
        int channel[2];
        if (::pipe(channel) != 0) throw std::runtime_error("no pipe");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("no process for the mirror");
        if (pid_ == 0) {
            ::close(channel[0]);
            Serve(mirror, channel[1]);
            ::_exit(0);
        }
        ::close(channel[1]);
        const bool told = ::read(channel[0], &port_, sizeof port_) == static_cast<ssize_t>(sizeof port_);
        ::close(channel[0]);
        if (!told || port_ <= 0) throw std::runtime_error("the mirror did not start");
    }
    ~MirrorProcess() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    static void Serve(const Mirror& mirror, int channel) {
        std::map<std::string, const std::string*> byPath;
        for (const auto& [path, bytes] : mirror.files) byPath[path] = &bytes;
        httplib::Server server;
        server.new_task_queue = [] { return new httplib::ThreadPool(160); };
        server.set_keep_alive_max_count(1000000);
        server.set_tcp_nodelay(true);
        server.Get(".*", [&byPath](const httplib::Request& request, httplib::Response& response) {
            const auto found = byPath.find(request.path);
            if (found == byPath.end()) {
                response.status = 404;
                return;
            }
            const std::string& bytes = *found->second;
            response.set_content_provider(bytes.size(), "application/octet-stream",
                                          [&bytes](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                              return sink.write(bytes.data() + offset, std::min<std::size_t>(length, 256 * 1024));
                                          });
        });
        int listening = -1;
        server.set_socket_options([&listening](int socket) {
            httplib::default_socket_options(socket);
            listening = socket;
        });
        const int port = server.bind_to_any_port("127.0.0.1");
        // A backlog of 5 would drop most of 64 connections made at once.
        if (port > 0 && listening >= 0) ::listen(listening, 1024);
        (void)!::write(channel, &port, sizeof port);
        ::close(channel);
        if (port > 0) server.listen_after_bind();
    }

    pid_t pid_ = -1;
    int port_ = 0;
};

struct Run {
    double seconds = 0;
    bool ok = false;
    std::string problem;
    double metadataSeconds = 0;  // the install until its files start to move
};

Run RunInstall(const fs::path& root) {
    lumivale::VersionInstallContext context;
    context.gameDir = (root / ".minecraft").string();
    context.programDir = root.string();
    std::string error;
    const auto start = Clock::now();
    double metadata = 0;
    const auto progress = [&](const lumivale::VersionProgress& state) {
        if (metadata == 0 && state.phase != "json") metadata = std::chrono::duration<double>(Clock::now() - start).count();
    };
    const bool ok = lumivale::InstallVersion({"bench", "", "", "bench"}, context, progress, error);
    return {std::chrono::duration<double>(Clock::now() - start).count(), ok, error, metadata};
}

Run RunCurl(const Settings& settings, const Mirror& mirror, const std::string& base, const fs::path& root) {
    const fs::path config = root.string() + ".curlrc";
    {
        std::ofstream out(config);
        int n = 0;
        for (const auto& [path, bytes] : mirror.files) {
            out << "url = \"" << base << path.substr(1) << "\"\noutput = \"" << (root / std::to_string(n++)).string() << "\"\n";
        }
    }
    fs::create_directories(root);
    const std::string command = "'" + settings.curl + "' --parallel --parallel-max 64 --fail --silent --show-error --no-progress-meter --config '" +
                                config.string() + "'";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    Run run{std::chrono::duration<double>(Clock::now() - start).count(), status == 0, ""};
    if (!run.ok) run.problem = "curl exited with status " + std::to_string(status);
    fs::remove(config);
    return run;
}

void Print(const char* client, const Run& run, std::size_t files, std::int64_t bytes) {
    std::printf("%-40s  %8.3f s  %8.1f files/s  %8.1f MB/s  %s\n", client, run.seconds, double(files) / run.seconds,
                double(bytes) / 1e6 / run.seconds, run.ok ? "ok" : ("FAILED: " + run.problem).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--objects") settings.objects = std::stoi(value);
        else if (flag == "--object-size") settings.objectSize = std::max<std::size_t>(2048, std::stoul(value));
        else if (flag == "--libraries") settings.libraries = std::stoi(value);
        else if (flag == "--library-size") settings.librarySize = std::stoul(value);
        else if (flag == "--client-size") settings.clientSize = std::stoul(value);
        else if (flag == "--rounds") settings.rounds = std::max(1, std::stoi(value));
        else if (flag == "--curl") settings.curl = value;
        else if (flag == "--folder") settings.folder = value;
        else {
            std::fprintf(stderr, "unknown option %s\n", flag.c_str());
            return 2;
        }
    }
    const bool ownFolder = settings.folder.empty();
    if (ownFolder) settings.folder = fs::temp_directory_path() / ("lumivale-bench-install-" + std::to_string(::getpid()));
    fs::create_directories(settings.folder);

    // The official hosts are a closed port: every file has to come from the mirror.
    const std::string official = "http://127.0.0.1:9/";
    const Mirror mirror = BuildMirror(settings, official);
    const MirrorProcess server(mirror);
    ::setenv("LUMIVALE_MIRROR_BASE", server.Base().c_str(), 1);
    for (const char* name : {"DATA", "LIBRARIES", "META", "ASSETS", "MAVEN"}) {
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ::setenv(("LUMIVALE_OFFICIAL_" + std::string(name) + "_BASE").c_str(), (official + lower + "/").c_str(), 1);
    }

    std::printf("A version of %d asset objects, %d libraries and a %zu MiB client: %zu files, %.1f MB, loopback mirror\n",
                settings.objects, settings.libraries, settings.clientSize >> 20, mirror.files.size(), double(mirror.totalBytes) / 1e6);
    std::vector<Run> installs, curls;
    for (int round = 0; round < settings.rounds; ++round) {
        // Alternate who goes first so neither always meets a cold or a warm server.
        for (int turn = 0; turn < 2; ++turn) {
            const bool installTurn = (turn == 0) == (round % 2 == 0);
            const fs::path root = settings.folder / ((installTurn ? "install-" : "curl-") + std::to_string(round));
            fs::remove_all(root);
            (installTurn ? installs : curls).push_back(installTurn ? RunInstall(root) : RunCurl(settings, mirror, server.Base(), root));
            fs::remove_all(root);
        }
    }
    // The fastest round, or the first failed one: a failed round spoils the figures.
    const auto best = [](const std::vector<Run>& runs) {
        Run chosen = runs.front();
        for (const Run& run : runs) {
            if (!run.ok) return run;
            if (run.seconds < chosen.seconds) chosen = run;
        }
        return chosen;
    };
    const Run bestInstall = best(installs), bestCurl = best(curls);
    Print("launcher install (InstallVersion)", bestInstall, mirror.files.size(), mirror.totalBytes);
    Print("curl --parallel --parallel-max 64", bestCurl, mirror.files.size(), mirror.totalBytes);
    if (bestInstall.ok) {
        std::printf("  of which the manifest, version JSON and asset index, one after the other: %.3f s\n",
                    bestInstall.metadataSeconds);
    }
    if (bestInstall.ok && bestCurl.ok) std::printf("install / curl: %.2f\n", bestInstall.seconds / bestCurl.seconds);
    if (ownFolder) fs::remove_all(settings.folder);
    return bestInstall.ok && bestCurl.ok ? 0 : 1;
}
