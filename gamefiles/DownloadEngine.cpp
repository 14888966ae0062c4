#include "DownloadEngine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "Hash.h"
#include "HttpTransport.h"
#include "MirrorMap.h"
#include "Paths.h"

namespace lumivale {

namespace {

constexpr int kAttemptsPerCandidate = 6;
constexpr int kBackOffBudget = 3;
constexpr std::chrono::milliseconds kFirstBackOff{1000};
// A Location value longer than this is treated as missing (it would not fit the 8192-byte,
// 4096-character buffer it is read into, terminator included).
constexpr std::size_t kLongestLocation = 4095;
// The body of an answer that is not stored is read up to this size, so that the connection can
// serve the next attempt; a longer one is cut off (which closes the connection).
constexpr std::size_t kDrainLimit = 65536;

// The current URL of an attempt, taken apart the way the engine addresses a host.
struct UrlParts {
    bool secure = false;
    std::string authority;  // as written, port included
    std::string host;
    std::string portText;
    unsigned long port = 0;  // 0: the scheme's default port
    std::string path;        // from the first "/" on, query included; "/" when there is none
};

UrlParts ParseUrl(const std::string& url) {
    UrlParts parts;
    parts.secure = url.compare(0, 8, "https://") == 0;
    parts.portText = parts.secure ? "443" : "80";
    const auto scheme = url.find("://");
    const std::string rest = scheme == std::string::npos ? url : url.substr(scheme + 3);
    const auto slash = rest.find('/');
    parts.authority = rest.substr(0, slash);
    parts.path = slash == std::string::npos ? "/" : rest.substr(slash);
    const auto colon = parts.authority.find(':');
    parts.host = parts.authority.substr(0, colon);
    if (colon != std::string::npos) parts.portText = parts.authority.substr(colon + 1);
    // Leading decimal digits; anything else gives 0.
    const char* first = parts.portText.data();
    const std::errc parsed = std::from_chars(first, first + parts.portText.size(), parts.port).ec;
    if (parsed != std::errc()) parts.port = parsed == std::errc::result_out_of_range ? 65536 : 0;
    return parts;
}

// The address handed to the transport: the scheme follows the secure flag alone, so a URL of any
// other form is fetched as plain HTTP.
std::string RequestAddress(const UrlParts& parts) {
    std::string address = parts.secure ? "https://" : "http://";
    address += parts.host;
    if (parts.port != 0) address += ":" + std::to_string(parts.port);
    address += parts.path;
    return address;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsSeparator(char c) {
    return c == '/' || c == std::filesystem::path::preferred_separator;
}

// A per-thread token for the temporary file name: two threads never share one, so concurrent
// downloads of the same target never write the same temporary file.
std::uint64_t ThreadToken() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t token = next.fetch_add(1);
    return token;
}

void RemoveQuietly(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

enum class AttemptResult { Stored, Retry };

// How one answer is taken in. For a 200 the body goes to the temporary file; any other body is
// read and dropped.
struct Receiver {
    Receiver(const std::string& target, std::string& errorText, const ExpectedFile& expectedFile)
        : targetPath(target),
          error(errorText),
          expected(expectedFile),
          tempName(target + "." + std::to_string(ThreadToken()) + ".part"),
          tempPath(Utf8Path(tempName)) {}

    const std::string& targetPath;
    std::string& error;
    const ExpectedFile& expected;
    const std::string tempName;
    const std::filesystem::path tempPath;
    std::ofstream file;
    bool fileOpen = false;
    bool openFailed = false;
    bool writeFailed = false;
    std::uint64_t written = 0;
    std::size_t drained = 0;
    Digest sha1{DigestKind::Sha1};

    bool OnHead(const HttpResponse& head) {
        if (head.status != 200) return true;
        EnsureParentDirectories(targetPath);
        file.open(tempPath, std::ios::binary | std::ios::out | std::ios::trunc);
        if (!file.is_open()) {
            openFailed = true;
            error = "无法写入文件 " + tempName;
            return false;
        }
        fileOpen = true;
        return true;
    }

    bool OnBody(std::string_view piece) {
        if (!fileOpen) {
            drained += piece.size();
            return drained <= kDrainLimit;
        }
        file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        if (!file) {
            writeFailed = true;
            return false;
        }
        written += piece.size();
        if (!expected.sha1.empty()) sha1.Update(piece);
        // More than declared: the rest is not worth reading.
        return expected.size < 0 || written <= static_cast<std::uint64_t>(expected.size);
    }

    // The body that arrived is the one the caller declared.
    bool Matches() {
        if (expected.size >= 0 && written != static_cast<std::uint64_t>(expected.size)) return false;
        if (expected.sha1.empty()) return true;
        const std::string actual = sha1.FinishHex();
        return std::equal(actual.begin(), actual.end(), expected.sha1.begin(), expected.sha1.end(),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    }

    // Closes the temporary file; false when the last bytes could not be written.
    bool Close() {
        if (!fileOpen) return true;
        fileOpen = false;
        file.close();
        return !file.fail();
    }
};

AttemptResult RunAttempt(std::string& current, const std::string& targetPath, std::string& error,
                         const DownloadOptions& options, const ExpectedFile& expected,
                         int& backOffBudget, std::chrono::milliseconds& backOffDelay) {
    const UrlParts parts = ParseUrl(current);
    if (parts.host.empty() || parts.port > 65535) {
        error = "无法连接 " + parts.host;
        return AttemptResult::Retry;
    }

    HttpRequest request;
    request.url = RequestAddress(parts);
    request.connectTimeout = options.connectTimeout;
    request.receiveTimeout = options.receiveTimeout;
    request.trustedCertificates = options.trustedCertificates;

    Receiver receiver(targetPath, error, expected);
    const HttpResponse response = SendHttpRequest(
        request, [&receiver](std::string_view piece) { return receiver.OnBody(piece); },
        [&receiver](const HttpResponse& head) { return receiver.OnHead(head); });
    const bool closedCleanly = receiver.Close();

    if (!response.answered) {
        if (response.failure == HttpFailure::Setup) {
            error = "无法初始化网络";
        } else if (response.failure == HttpFailure::BadRequest) {
            error = "请求创建失败";
        } else {
            error = "请求失败 " + current;
        }
        return AttemptResult::Retry;
    }

    const int status = response.status;
    if (status == 200) {
        if (receiver.openFailed) return AttemptResult::Retry;  // message already recorded
        const bool overlong = response.failure == HttpFailure::Aborted && !receiver.writeFailed;
        if ((!response.ok() && !overlong) || receiver.writeFailed || !closedCleanly ||
            receiver.written == 0) {
            RemoveQuietly(receiver.tempPath);
            error = "下载内容不完整 " + targetPath;
            return AttemptResult::Retry;
        }
        if (overlong || !receiver.Matches()) {
            RemoveQuietly(receiver.tempPath);
            error = kDownloadMismatchMessage + targetPath;
            return AttemptResult::Retry;
        }
        std::error_code moveError;
        std::filesystem::rename(receiver.tempPath, Utf8Path(targetPath), moveError);
        if (moveError) {
            RemoveQuietly(receiver.tempPath);
            error = "无法替换目标文件 " + targetPath + "（可能被占用）";
            return AttemptResult::Retry;
        }
        return AttemptResult::Stored;
    }

    if (IsRedirect(status)) {
        const std::optional<std::string> location = response.Header("Location");
        if (location && !location->empty() && location->size() <= kLongestLocation) {
            if (location->starts_with("http")) {
                current = *location;
            } else {
                current = (parts.secure ? "https://" : "http://") + parts.authority +
                          (location->starts_with("/") ? "" : "/") + *location;
            }
            return AttemptResult::Retry;
        }
    } else if ((status == 429 || status == 503) && backOffBudget > 0) {
        if (options.wait) {
            options.wait(backOffDelay);
        } else {
            std::this_thread::sleep_for(backOffDelay);
        }
        backOffDelay *= 2;
        --backOffBudget;
        return AttemptResult::Retry;
    }
    error = "下载返回状态 " + std::to_string(status) + " " + current;
    return AttemptResult::Retry;
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error) {
    return DownloadFile(url, targetPath, error, DownloadOptions{});
}

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error,
                  const ExpectedFile& expected) {
    return DownloadFile(url, targetPath, error, DownloadOptions{}, expected);
}

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error,
                  const DownloadOptions& options, const ExpectedFile& expected) {
    const std::array<std::string, 2> candidates{
        options.mirrorForm ? options.mirrorForm(url) : RewriteToMirror(url), url};
    for (const std::string& candidate : candidates) {
        std::string current = candidate;
        int backOffBudget = kBackOffBudget;
        std::chrono::milliseconds backOffDelay = kFirstBackOff;
        for (int attempt = 0; attempt < kAttemptsPerCandidate; ++attempt) {
            if (RunAttempt(current, targetPath, error, options, expected, backOffBudget,
                           backOffDelay) == AttemptResult::Stored) {
                return true;
            }
        }
    }
    return false;
}

int RunParallel(int count, int workers, const std::function<bool(int)>& work,
                const std::function<void(int, bool)>& completion) {
    if (count < 1 || !work) return 0;
    const int threads = std::min(workers < 1 ? 8 : workers, count);

    // 64 bits: every thread takes one index past the end before it stops.
    std::atomic<std::int64_t> next{0};
    std::atomic<int> succeeded{0};
    std::mutex completionMutex;
    auto loop = [&] {
        for (;;) {
            const std::int64_t index = next.fetch_add(1);
            if (index >= count) return;
            const int i = static_cast<int>(index);
            bool ok = false;
            try {
                ok = work(i);
            } catch (...) {
                ok = false;
            }
            if (ok) succeeded.fetch_add(1);
            if (completion) {
                std::lock_guard lock(completionMutex);
                try {
                    completion(i, ok);
                } catch (...) {
                }
            }
        }
    };

    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(threads - 1));
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(loop);
        } catch (const std::system_error&) {
            break;  // fewer threads; the ones running still take every index
        }
    }
    loop();
    for (std::thread& thread : pool) thread.join();
    return succeeded.load();
}

void EnsureParentDirectories(const std::string& filePath) {
    std::size_t last = std::string::npos;
    for (std::size_t i = filePath.size(); i > 0; --i) {
        if (IsSeparator(filePath[i - 1])) {
            last = i - 1;
            break;
        }
    }
    if (last == std::string::npos || last == 0) return;
    const std::string parent = filePath.substr(0, last);
    std::error_code ignored;
    if (std::filesystem::is_directory(Utf8Path(parent), ignored)) return;  // the usual case
    for (std::size_t i = 1; i < parent.size(); ++i) {
        if (IsSeparator(parent[i]))
            std::filesystem::create_directory(Utf8Path(parent.substr(0, i)), ignored);
    }
    std::filesystem::create_directory(Utf8Path(parent), ignored);
}

bool FileIsNonEmpty(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = Utf8Path(path);
    const auto status = std::filesystem::status(file, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status))
        return false;
    const auto size = std::filesystem::file_size(file, error);
    return !error && size > 0;
}

bool FileIsPresent(const std::string& path, std::int64_t declaredSize) {
    if (!FileIsNonEmpty(path)) return false;
    if (declaredSize < 0) return true;
    std::error_code error;
    const auto size = std::filesystem::file_size(Utf8Path(path), error);
    return !error && size == static_cast<std::uintmax_t>(declaredSize);
}

}  // namespace lumivale
