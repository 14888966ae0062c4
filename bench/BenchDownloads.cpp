// Download throughput: the engine's batch (DownloadFiles) against curl's own parallel mode, both
// fetching the same files from the same server in the same run.
//
//   lumivale_bench_downloads [--small N] [--small-size BYTES] [--large N] [--large-size BYTES]
//                            [--workers N] [--rounds N] [--curl PATH] [--folder DIR]
//                            [--only engine|curl] [--server URL --small-file F --large-file F]
//                            [--name TEXT] [--threads N] [--check yes|no]
//
// Defaults: 5000 files of 4 KiB and 100 files of 4 MiB, 64 parallel transfers, 3 rounds (the
// median round of each client is reported; the two take turns going first), curl from
// /usr/bin/curl. Without --server the files come from a loopback server of this program's own;
// with it, from URL/small/<i> and URL/large/<i> of a server started elsewhere (scripts/bench.sh
// starts nginx), which sends the bytes of --small-file and --large-file. The engine is given each
// file's size and SHA-1 and checks them while the bytes stream in, as it does for game files;
// curl only stores them. Files are written
// below a fresh temporary folder, spread over 256 sub-folders like asset objects, and every run
// is checked (file count and sizes) before its figures count.
#include <httplib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DownloadEngine.h"
#include "Hash.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Settings {
    int smallCount = 5000;
    std::size_t smallSize = 4 * 1024;
    int largeCount = 100;
    std::size_t largeSize = 4 * 1024 * 1024;
    int workers = 64;
    int rounds = 3;
    std::string curl = "/usr/bin/curl";
    bool runEngine = true;
    bool runCurl = true;
    fs::path folder;
    int threads = 0;     // the engine's threads; 0: its own choice
    bool check = true;   // the engine checks each file's size and SHA-1
    std::string server;  // base URL of a server started elsewhere; empty: our own
    fs::path smallFile;  // what that server sends for /small/<i> and /large/<i>
    fs::path largeFile;
    std::string name;    // what the heading calls the server
};

std::string UrlOf(const std::string& base, const std::string& set, int index) {
    return base + "/" + set + "/" + std::to_string(index);
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const auto word = random();
        for (std::size_t j = 0; j < 8 && i + j < size; ++j)
            bytes[i + j] = static_cast<char>(word >> (8 * j));
    }
    return bytes;
}

// Serves /small/<i> and /large/<i> from two fixed blocks, with enough threads for every kept
// connection. It runs in a child process, so that the CPU time of this process is the engine's
// alone and curl's is that of the processes this one waits for.
class BenchServer {
  public:
    BenchServer(std::size_t smallSize, std::size_t largeSize, int connections) {
        int channel[2];
        if (::pipe(channel) != 0) throw std::runtime_error("no pipe for the bench server");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("no process for the bench server");
        if (pid_ == 0) {
            ::close(channel[0]);
            Serve(smallSize, largeSize, connections, channel[1]);
            ::_exit(0);
        }
        ::close(channel[1]);
        const bool told =
            ::read(channel[0], &port_, sizeof port_) == static_cast<ssize_t>(sizeof port_);
        ::close(channel[0]);
        if (!told || port_ <= 0) throw std::runtime_error("the bench server did not start");
    }
    ~BenchServer() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    static void Serve(std::size_t smallSize, std::size_t largeSize, int connections, int channel) {
        const std::string small = RandomBytes(smallSize, 1);
        const std::string large = RandomBytes(largeSize, 2);
        httplib::Server server;
        const auto threads = static_cast<std::size_t>(connections) * 2 + 8;
        server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        server.set_keep_alive_max_count(1000000);
        server.set_keep_alive_timeout(5);
        server.set_tcp_nodelay(true);  // headers and body leave in separate writes
        server.Get(R"(/small/\d+)", [&small](const httplib::Request&, httplib::Response& response) {
            response.set_content(small, "application/octet-stream");
        });
        server.Get(R"(/large/\d+)", [&large](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                large.size(), "application/octet-stream",
                [&large](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    return sink.write(large.data() + offset,
                                      std::min<std::size_t>(length, 256 * 1024));
                });
        });
        int listening = -1;
        server.set_socket_options([&listening](int socket) {
            httplib::default_socket_options(socket);
            listening = socket;
        });
        const int port = server.bind_to_any_port("127.0.0.1");
        // cpp-httplib listens with a backlog of 5: 64 clients connecting at once would see their
        // attempts dropped and retried a second later, which measures the server, not the client.
        if (port > 0 && listening >= 0) ::listen(listening, 1024);
        (void)!::write(channel, &port, sizeof port);
        ::close(channel);
        if (port > 0) server.listen_after_bind();
    }

    pid_t pid_ = -1;
    int port_ = 0;
};

// CPU seconds (user + system) of this process, or of the children it has waited for.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct FileSet {
    std::string name;  // "small" or "large"
    int count = 0;
    std::size_t size = 0;
    std::string sha1;  // of every file of the set: the engine checks it as it would a game file's
};

std::string Sha1Of(const std::string& bytes) {
    lumivale::Digest digest(lumivale::DigestKind::Sha1);
    digest.Update(bytes);
    return digest.FinishHex();
}

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string TargetOf(const fs::path& root, int index) {
    char folder[8];
    std::snprintf(folder, sizeof folder, "%02x", index & 0xff);
    return (root / folder / ("f" + std::to_string(index))).string();
}

struct Result {
    double seconds = 0;
    double cpuSeconds = 0;
    bool complete = false;
    std::string problem;
};

// Every file present with the right size.
Result Check(const fs::path& root, const FileSet& set, double seconds) {
    Result result;
    result.seconds = seconds;
    result.complete = true;
    for (int i = 0; i < set.count; ++i) {
        std::error_code error;
        const auto size = fs::file_size(TargetOf(root, i), error);
        if (error || size != set.size) {
            result.complete = false;
            result.problem =
                "file " + std::to_string(i) + (error ? " missing" : " has the wrong size");
            break;
        }
    }
    return result;
}

Result RunEngine(const std::string& base, const FileSet& set, const fs::path& root, int workers,
                 int threads, bool check) {
    std::vector<lumivale::DownloadItem> items;
    items.reserve(static_cast<std::size_t>(set.count));
    const lumivale::ExpectedFile expected =
        check ? lumivale::ExpectedFile{set.sha1, static_cast<std::int64_t>(set.size)} : lumivale::ExpectedFile{};
    for (int i = 0; i < set.count; ++i) items.push_back({UrlOf(base, set.name, i), TargetOf(root, i), expected});
    lumivale::DownloadOptions options;
    options.parallel = workers;
    options.threads = threads;
    std::string firstError;
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    const int stored = lumivale::DownloadFiles(items, options, [&](int, bool ok, const std::string& error) {
        if (!ok && firstError.empty()) firstError = error;
    });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    Result result = Check(root, set, seconds);
    result.cpuSeconds = cpu;
    if (stored != set.count) {
        result.complete = false;
        result.problem = std::to_string(set.count - stored) + " failed: " + firstError;
    }
    return result;
}

Result RunCurl(const std::string& base, const FileSet& set, const fs::path& root, int workers,
               const std::string& curl) {
    const fs::path config = root.parent_path() / (root.filename().string() + ".curlrc");
    {
        std::ofstream out(config);
        for (int i = 0; i < set.count; ++i) {
            out << "url = \"" << UrlOf(base, set.name, i) << "\"\n"
                << "output = \"" << TargetOf(root, i) << "\"\n";
        }
    }
    const std::string command =
        "'" + curl + "' --parallel --parallel-max " + std::to_string(workers) +
        " --create-dirs --silent --show-error --no-progress-meter --config '" + config.string() +
        "'";
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    fs::remove(config);
    Result result = Check(root, set, seconds);
    result.cpuSeconds = cpu;
    if (status != 0) {
        result.complete = false;
        result.problem = "curl exited with status " + std::to_string(status);
    }
    return result;
}

void PrintRow(const FileSet& set, const std::string& client, const Result& result) {
    const double files = result.seconds > 0 ? set.count / result.seconds : 0;
    const double megabytes =
        result.seconds > 0 ? double(set.count) * double(set.size) / 1e6 / result.seconds : 0;
    const std::string label =
        std::to_string(set.count) + " x " +
        (set.size >= 1024 * 1024 ? std::to_string(set.size / (1024 * 1024)) + " MiB"
                                 : std::to_string(set.size / 1024) + " KiB");
    std::printf("%-14s  %-28s  %8.3f  %10.1f  %9.1f  %8.3f  %s\n", label.c_str(), client.c_str(),
                result.seconds, files, megabytes, result.cpuSeconds,
                result.complete ? "ok" : ("INCOMPLETE: " + result.problem).c_str());
    std::fflush(stdout);
}

// The median run by time, or the first incomplete one: an incomplete run spoils the figures.
Result Median(std::vector<Result> runs) {
    for (const Result& run : runs) {
        if (!run.complete) return run;
    }
    std::sort(runs.begin(), runs.end(),
              [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

int ParseInt(const char* text) {
    return std::stoi(text);
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "missing value after %s\n", flag.c_str());
            return 2;
        }
        const char* value = argv[++i];
        if (flag == "--small")
            settings.smallCount = ParseInt(value);
        else if (flag == "--small-size")
            settings.smallSize = std::stoul(value);
        else if (flag == "--large")
            settings.largeCount = ParseInt(value);
        else if (flag == "--large-size")
            settings.largeSize = std::stoul(value);
        else if (flag == "--workers")
            settings.workers = ParseInt(value);
        else if (flag == "--rounds")
            settings.rounds = std::max(1, ParseInt(value));
        else if (flag == "--curl")
            settings.curl = value;
        else if (flag == "--folder")
            settings.folder = value;
        else if (flag == "--server")
            settings.server = value;
        else if (flag == "--threads")
            settings.threads = ParseInt(value);
        else if (flag == "--check")
            settings.check = std::string(value) != "no";
        else if (flag == "--small-file")
            settings.smallFile = value;
        else if (flag == "--large-file")
            settings.largeFile = value;
        else if (flag == "--name")
            settings.name = value;
        else if (flag == "--only") {
            settings.runEngine = std::string(value) == "engine";
            settings.runCurl = std::string(value) == "curl";
        } else {
            std::fprintf(stderr, "unknown option %s\n", flag.c_str());
            return 2;
        }
    }
    const bool ownFolder = settings.folder.empty();
    if (ownFolder) {
        settings.folder = fs::temp_directory_path() /
                          ("lumivale-bench-" + std::to_string(std::random_device{}()));
    }
    fs::create_directories(settings.folder);

    // Our own server only when no other one is named; it runs in a child process either way.
    std::unique_ptr<BenchServer> own;
    std::string base = settings.server;
    if (base.empty()) {
        own = std::make_unique<BenchServer>(settings.smallSize, settings.largeSize, settings.workers);
        base = own->Base();
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string serverName =
        !settings.name.empty() ? settings.name : own ? "loopback server (cpp-httplib)" : base;
    // The bytes every file of a set holds, for the SHA-1 the engine is given.
    const std::string smallBytes = own ? RandomBytes(settings.smallSize, 1) : ReadWhole(settings.smallFile);
    const std::string largeBytes = own ? RandomBytes(settings.largeSize, 2) : ReadWhole(settings.largeFile);
    const std::vector<FileSet> sets{{"small", settings.smallCount, settings.smallSize, Sha1Of(smallBytes)},
                                    {"large", settings.largeCount, settings.largeSize, Sha1Of(largeBytes)}};
    std::printf("%s, %d parallel transfers, median of %d rounds\n", serverName.c_str(),
                settings.workers, settings.rounds);
    std::printf("%-14s  %-28s  %8s  %10s  %9s  %8s\n", "files", "client", "seconds", "files/s",
                "MB/s", "CPU s");

    const std::string engineName = "DownloadFiles(" + std::to_string(settings.workers) + ")";
    const std::string curlName = "curl --parallel-max " + std::to_string(settings.workers);
    int status = 0;
    std::vector<fs::path> runFolders;
    for (const FileSet& set : sets) {
        if (set.count <= 0) continue;
        std::vector<Result> engineRuns, curlRuns;
        for (int round = 0; round < settings.rounds; ++round) {
            // Alternate who goes first so neither always meets a cold or a warm server.
            for (int turn = 0; turn < 2; ++turn) {
                const bool engineTurn = (turn == 0) == (round % 2 == 0);
                if (!(engineTurn ? settings.runEngine : settings.runCurl)) continue;
                // A fresh folder per run, all removed at the end: creating files where many were
                // just deleted is slower on some file systems, and neither client should pay that.
                const fs::path root =
                    settings.folder /
                    (set.name + (engineTurn ? "-engine-" : "-curl-") + std::to_string(round));
                fs::remove_all(root);
                runFolders.push_back(root);
                fs::create_directories(root);
                if (engineTurn) {
                    engineRuns.push_back(
                        RunEngine(base, set, root, settings.workers, settings.threads, settings.check));
                } else {
                    curlRuns.push_back(RunCurl(base, set, root, settings.workers, settings.curl));
                }
            }
        }
        std::vector<Result> medians;
        for (const auto& [name, runs] :
             {std::pair{engineName, engineRuns}, std::pair{curlName, curlRuns}}) {
            if (runs.empty()) continue;
            const Result median = Median(runs);
            if (!median.complete) status = 1;
            PrintRow(set, name, median);
            medians.push_back(median);
        }
        if (medians.size() == 2 && medians[0].complete && medians[1].complete) {
            // Above 1.0 the engine is the faster one.
            std::printf("%-14s  %-28s  %8.2fx  %30s  %7.2fx\n", "", "engine speed / curl speed",
                        medians[1].seconds / medians[0].seconds, "CPU engine / curl",
                        medians[0].cpuSeconds / medians[1].cpuSeconds);
        }
    }
    for (const fs::path& root : runFolders) fs::remove_all(root);
    if (ownFolder) fs::remove_all(settings.folder);
    return status;
}
