#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace lumivale::test {

bool ProcessAlive(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    const auto state = std::getline(stat, text) ? text.rfind(") ") : std::string::npos;
    return state != std::string::npos && text[state + 2] != 'Z' && text[state + 2] != 'X';
}

Subprocess::Subprocess(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& env) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    for (const auto& extra : env) {
        const auto name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(environment, [&](const std::string& e) { return e.starts_with(name); });
        environment.push_back(extra);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    signal(SIGPIPE, SIG_IGN);
}

Subprocess::~Subprocess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
        if (fd >= 0) close(fd);
    }
}

void Subprocess::Send(const std::string& line) {
    const std::string data = line + "\n";
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(in_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void Subprocess::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

std::optional<std::string> Subprocess::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

long Subprocess::ReadStderr(int waitMs) {
    pollfd p{err_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return 0;
    char buffer[4096];
    const ssize_t n = read(err_, buffer, sizeof buffer);
    if (n <= 0) return -1;
    stderr_.append(buffer, static_cast<std::size_t>(n));
    return n;
}

int Subprocess::Wait(std::chrono::milliseconds limit) {
    if (reaped_) return exitCode_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        ReadStderr(20);  // keep draining so a chatty child never blocks on a full pipe
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            reaped_ = true;
            return exitCode_ = -1;
        }
    }
    reaped_ = true;
    while (ReadStderr(0) > 0) {
    }
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitCode_;
}

bool Subprocess::WaitForStderr(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (stderr_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || reaped_ || ReadStderr(static_cast<int>(left.count())) < 0) return false;
    }
    return true;
}

std::string Subprocess::Stderr() { return stderr_; }

}  // namespace lumivale::test
