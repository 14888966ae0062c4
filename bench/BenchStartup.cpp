// Start-up and memory of the launcher.
//
//   lumivale_bench_startup LUMIVALE [--rounds N] [--java PATH] [--display :N]
//
// Headless: a home with 50 cores (version JSONs that resolve) and three Java runtimes in
// ~/.jdks (wrappers of a real JDK, so each probe starts a real JVM; the system's own JDK below
// /usr/lib/jvm is found as well). Measured from the process start to the page's first answers:
// "sys:config" after {"type":"host:loaded"} (sent at once), on a first start (no saved Java list:
// the runtimes are looked for) and on a later one (the saved list), and when the Java list
// arrives on a first start. Then the resident memory of the idle headless launcher.
// With --display: the window on that X display (Xvfb), its memory (the launcher and WebKit's
// processes together) once the window is up and once the page has loaded and settled.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A child with its standard input and output on pipes; its standard error goes to `errorFile`.
struct Child {
    pid_t pid = -1;
    int input = -1;
    FILE* output = nullptr;

    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const fs::path& errorFile) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("no pipes");
        pid = ::fork();
        if (pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            FILE* error = std::fopen(errorFile.c_str(), "w");
            if (error) ::dup2(fileno(error), 2);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> args, vars;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            for (const auto& v : env) vars.push_back(const_cast<char*>(v.c_str()));
            vars.push_back(nullptr);
            ::execve(args[0], args.data(), vars.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        input = in[1];
        output = ::fdopen(out[0], "r");
    }
    void Send(const std::string& line) { (void)!::write(input, (line + "\n").data(), line.size() + 1); }
    std::optional<std::string> Line() {
        char* text = nullptr;
        size_t size = 0;
        const ssize_t got = ::getline(&text, &size, output);
        std::optional<std::string> line;
        if (got >= 0) line = std::string(text, static_cast<std::size_t>(got));
        std::free(text);
        return line;
    }
    int Finish() {
        if (input >= 0) ::close(input);
        input = -1;
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (output) std::fclose(output);
        output = nullptr;
        return status;
    }
};

// kB of a line such as "VmRSS:   12345 kB" in /proc/<pid>/status or smaps_rollup.
long Kilobytes(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    }
    return 0;
}

// The process and all its descendants.
std::vector<pid_t> Tree(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        pid_t parent = 0;
        rest >> state >> parent;
        children.emplace(parent, std::stoi(name));
    }
    std::vector<pid_t> tree{root};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const auto [first, last] = children.equal_range(tree[i]);
        for (auto it = first; it != last; ++it) tree.push_back(it->second);
    }
    return tree;
}

struct Memory {
    double rssMb = 0;
    double pssMb = 0;
    int processes = 0;
};

Memory MemoryOf(pid_t root) {
    Memory memory;
    for (const pid_t pid : Tree(root)) {
        const fs::path proc = "/proc/" + std::to_string(pid);
        memory.rssMb += double(Kilobytes(proc / "status", "VmRSS:")) / 1024;
        memory.pssMb += double(Kilobytes(proc / "smaps_rollup", "Pss:")) / 1024;
        ++memory.processes;
    }
    return memory;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string FindJava() {
    if (const char* home = std::getenv("JAVA_HOME"); home && fs::exists(fs::path(home) / "bin/java"))
        return (fs::path(home) / "bin/java").string();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/jvm", error)) {
        if (fs::exists(entry.path() / "bin/java")) return (entry.path() / "bin/java").string();
    }
    return "/usr/bin/java";
}

struct Home {
    fs::path root;
    fs::path program;
    fs::path user;
    std::vector<std::string> env;

    Home(const fs::path& base, const std::string& java) : root(base) {
        program = root / "program";
        user = root / "user";
        for (int i = 0; i < 50; ++i) {
            const std::string name = "core-" + std::to_string(i);
            const fs::path folder = program / ".minecraft" / "versions" / name;
            Write(folder / (name + ".json"),
                  R"({"id":")" + name + R"(","type":"release","mainClass":"net.minecraft.client.main.Main",)"
                  R"("minecraftArguments":"--username ${auth_player_name}","libraries":[]})");
            Write(folder / (name + ".jar"), std::string(1024, 'j'));
        }
        for (const char* jdk : {"jdk-a", "jdk-b", "jdk-c"}) {
            const fs::path wrapper = user / ".jdks" / jdk / "bin" / "java";
            Write(wrapper, "#!/bin/sh\nexec '" + java + "' \"$@\"\n");
            fs::permissions(wrapper, fs::perms::owner_all);
        }
        env = {"HOME=" + user.string(), "XDG_DATA_HOME=" + (user / "data").string(),
               "XDG_CACHE_HOME=" + (user / "cache").string(), "PATH=/usr/bin:/bin",
               "TMPDIR=" + (root / "tmp").string(), "LUMIVALE_BACKEND_BASE=http://127.0.0.1:9",
               "LUMIVALE_MIRROR_BASE=http://127.0.0.1:9/"};
        fs::create_directories(root / "tmp");
    }
};

struct StartUp {
    double pageAnswers = 0;  // seconds to "sys:config"
    double javaList = 0;     // seconds to a "sys:java" with runtimes in it
    int runtimes = 0;
    Memory idle;
};

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

StartUp RunHeadless(const std::string& launcher, const Home& home, bool measureMemory) {
    StartUp result;
    const auto start = Clock::now();
    Child child({launcher, "--headless", "--home", home.program.string()}, home.env,
                home.root / "stderr.txt");
    child.Send(R"({"type":"host:loaded"})");
    bool answered = false;
    while (!answered || result.runtimes == 0) {
        const auto line = child.Line();
        if (!line) break;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!answered && line->starts_with(R"({"type":"sys:config")")) {
            answered = true;
            result.pageAnswers = seconds;
        }
        if (line->starts_with(R"({"type":"sys:java")") && line->find(R"("value")") != std::string::npos) {
            result.runtimes = CountOf(*line, R"("value")");
            result.javaList = seconds;
        }
    }
    if (measureMemory) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        result.idle = MemoryOf(child.pid);
    }
    child.Finish();
    return result;
}

void RunWindow(const std::string& launcher, const Home& home, const std::string& display) {
    std::vector<std::string> env = home.env;
    env.push_back("DISPLAY=" + display);
    const fs::path log = home.root / "window-stderr.txt";
    Child child({launcher, "--home", (home.root / "window-program").string()}, env, log);
    // Console lines go to standard output with a window; the page's load is one of them.
    const auto start = Clock::now();
    double shown = -1, loaded = -1;
    Memory atShow;
    std::thread reader([&] {
        while (const auto line = child.Line()) {
            if (line->find("页面加载完成") != std::string::npos && loaded < 0)
                loaded = std::chrono::duration<double>(Clock::now() - start).count();
        }
    });
    // The window is up once the web view's own processes run.
    for (int i = 0; i < 200 && shown < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (Tree(child.pid).size() > 1) {
            shown = std::chrono::duration<double>(Clock::now() - start).count();
            atShow = MemoryOf(child.pid);
        }
    }
    for (int i = 0; i < 200 && loaded < 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::seconds(5));  // settled
    const Memory settled = MemoryOf(child.pid);
    std::printf("window: web view processes up after %.2f s: %d processes, RSS %.1f MB, PSS %.1f MB\n",
                shown, atShow.processes, atShow.rssMb, atShow.pssMb);
    std::printf("window: page loaded after %.2f s, 5 s later: %d processes, RSS %.1f MB, PSS %.1f MB\n",
                loaded, settled.processes, settled.rssMb, settled.pssMb);
    ::kill(child.pid, SIGTERM);
    child.Finish();
    reader.join();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LUMIVALE [--rounds N] [--java PATH] [--display :N]\n", argv[0]);
        return 2;
    }
    const std::string launcher = fs::absolute(argv[1]).string();
    int rounds = 5;
    std::string java = FindJava();
    std::string display;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--java") java = argv[i + 1];
        else if (flag == "--display") display = argv[i + 1];
    }
    const fs::path base = fs::temp_directory_path() / ("lumivale-startup-" + std::to_string(std::random_device{}()));

    std::vector<double> first, later, javaList;
    int runtimes = 0;
    Memory idle;
    for (int round = 0; round < rounds; ++round) {
        fs::remove_all(base);
        const Home home(base, java);
        const StartUp fresh = RunHeadless(launcher, home, false);
        const StartUp again = RunHeadless(launcher, home, round == 0);
        first.push_back(fresh.pageAnswers);
        javaList.push_back(fresh.javaList);
        later.push_back(again.pageAnswers);
        runtimes = fresh.runtimes;
        if (round == 0) idle = again.idle;
    }
    std::printf("headless start-up, 50 cores, %d Java runtimes found (3 in ~/.jdks), median of %d rounds\n",
                runtimes, rounds);
    std::printf("first start: page answers (\"sys:config\") after %.3f s, Java list after %.3f s\n",
                Median(first), Median(javaList));
    std::printf("later start: page answers after %.3f s\n", Median(later));
    std::printf("headless idle: RSS %.1f MB, PSS %.1f MB\n", idle.rssMb, idle.pssMb);
    if (!display.empty()) {
        const Home home(base, java);
        RunWindow(launcher, home, display);
    }
    fs::remove_all(base);
    return 0;
}
