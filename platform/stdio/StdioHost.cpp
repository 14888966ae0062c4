#include "StdioHost.h"

#include <unistd.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <nlohmann/json.hpp>
#include <thread>

namespace lumivale {

namespace {

std::string HostLine(nlohmann::ordered_json line) {
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

StdioHost::StdioHost(std::shared_ptr<UiLoop> loop, int inputFd, std::FILE* output,
                     std::function<void(const std::string&)> log)
    : loop_(std::move(loop)), inputFd_(inputFd), output_(output), log_(std::move(log)) {}

std::shared_ptr<StdioHost> StdioHost::OnStandardStreams(
    std::shared_ptr<UiLoop> loop, std::function<void(const std::string&)> log) {
#if defined(_WIN32)
    // Text mode would turn "\n" into "\r\n" and end the input at a 0x1A byte.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return std::make_shared<StdioHost>(std::move(loop), STDIN_FILENO, stdout, std::move(log));
}

bool StdioHost::Show(std::function<void()> onDestroyed) {
    onDestroyed_ = std::move(onDestroyed);
    return true;
}

bool StdioHost::Init(WebViewCallbacks callbacks) {
    callbacks_ = std::move(callbacks);
    // The reader holds only the loop and the descriptor: once the loop is closed its lines are
    // dropped, so it may block on input past the host's life and end with the process.
    std::thread([loop = loop_, fd = inputFd_, host = this] {
        std::string pending;
        char buffer[65536];
        while (true) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(got));
            std::size_t start = 0;
            for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                std::string line = pending.substr(start, end - start);
                if (!loop->Post([host, line = std::move(line)] { host->HandleLine(line); })) return;
            }
            pending.erase(0, start);
        }
        if (!pending.empty()) loop->Post([host, line = pending] { host->HandleLine(line); });
        loop->Post([host] { host->EndOfInput(); });
    }).detach();
    return true;
}

void StdioHost::HandleLine(const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) return;
    // A redirect to the launcher's own scheme (the browser's answer to a sign-in) arrives as
    // the bare address on a line of its own.
    if (line.starts_with("lumivale://")) {
        if (callbacks_.onSchemeNavigation) callbacks_.onSchemeNavigation(line);
        return;
    }
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_object()) {
        const auto type = parsed.find("type");
        if (type != parsed.end() && type->is_string()) {
            if (*type == "host:loaded") {
                if (callbacks_.onPageReady) callbacks_.onPageReady();
                return;
            }
            if (*type == "host:picked") {
                auto done = std::move(pendingPick_);
                pendingPick_ = nullptr;
                const auto path = parsed.find("path");
                if (done) done(path != parsed.end() && path->is_string() ? path->get<std::string>() : "");
                return;
            }
        }
    }
    // Everything else is what the page posted, handed over as the text it is.
    if (callbacks_.onMessage) callbacks_.onMessage(line);
}

void StdioHost::WriteLine(const std::string& line) {
    std::lock_guard lock(outputMutex_);
    std::fwrite(line.data(), 1, line.size(), output_);
    std::fputc('\n', output_);
    std::fflush(output_);
}

void StdioHost::PostJson(const std::string& json) {
    // A web view refuses event text that is not JSON; so does this host, which also keeps
    // every event on one line.
    if (!nlohmann::json::accept(json)) {
        if (log_) log_("StdioHost: dropped an event that is not valid JSON: " + json);
        return;
    }
    WriteLine(json);
}

void StdioHost::Navigate(const std::string& target) {
    WriteLine(HostLine({{"type", "host:navigate"}, {"url", target}}));
}

void StdioHost::ReloadWithError(const std::string& message) {
    WriteLine(HostLine({{"type", "host:reload"}, {"error", message}}));
}

void StdioHost::Minimise() { WriteLine(HostLine({{"type", "host:window"}, {"action", "min"}})); }

void StdioHost::StartMove() { WriteLine(HostLine({{"type", "host:window"}, {"action", "drag"}})); }

void StdioHost::Destroy() {
    WriteLine(HostLine({{"type", "host:window"}, {"action", "close"}}));
    EndOfInput();
}

void StdioHost::EndOfInput() {
    if (destroyed_) return;
    destroyed_ = true;
    if (onDestroyed_) onDestroyed_();
}

void StdioHost::OpenUrl(const std::string& url) {
    WriteLine(HostLine({{"type", "host:open"}, {"url", url}}));
}

void StdioHost::Pick(const char* kind, const std::string& title,
                     std::function<void(const std::string&)> done) {
    pendingPick_ = std::move(done);
    WriteLine(HostLine({{"type", "host:pick"}, {"kind", kind}, {"title", title}}));
}

void StdioHost::PickFolder(const std::string& title, std::function<void(const std::string&)> done) {
    Pick("folder", title, std::move(done));
}

void StdioHost::PickFile(const std::string& title, std::function<void(const std::string&)> done) {
    Pick("file", title, std::move(done));
}

void StdioHost::ShowMessage(const std::string& text, const std::string& caption, MessageKind) {
    // No window to own a box: the text goes where a person running headless looks.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

}  // namespace lumivale
