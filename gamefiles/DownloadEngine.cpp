#include "DownloadEngine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "Hash.h"
#include "HttpTransfers.h"
#include "HttpTransport.h"
#include "MirrorMap.h"
#include "Paths.h"
#include "Redirects.h"

namespace lumivale {

namespace {

constexpr int kAttemptsPerCandidate = 6;
constexpr int kBackOffBudget = 3;
constexpr std::chrono::milliseconds kFirstBackOff{1000};
// Redirects followed within one attempt; one more ends the attempt.
constexpr int kRedirectsPerAttempt = 8;
using Clock = std::chrono::steady_clock;
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

// A token for the temporary file name of each attempt: two attempts never share one, so
// concurrent downloads of the same target never write the same temporary file.
std::uint64_t NextPartToken() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1);
}

void RemoveQuietly(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

// The parent folder of a file path, as EnsureParentDirectories sees it; empty when there is none.
std::string ParentOf(const std::string& filePath) {
    for (std::size_t i = filePath.size(); i > 1; --i) {
        if (IsSeparator(filePath[i - 1])) return filePath.substr(0, i - 1);
    }
    return {};
}

// How one answer is taken in. For a 200 the body goes to the temporary file; any other body is
// read and dropped.
struct Receiver {
    Receiver(const std::string& target, const ExpectedFile& expectedFile)
        : targetPath(target),
          expected(expectedFile),
          tempName(target + "." + std::to_string(NextPartToken()) + ".part"),
          tempPath(Utf8Path(tempName)) {}

    const std::string& targetPath;
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

    bool OnHead(const HttpResponse& head, std::unordered_set<std::string>& knownFolders) {
        if (head.status != 200) return true;
        // Each folder is looked at once per batch.
        if (std::string parent = ParentOf(targetPath); knownFolders.insert(std::move(parent)).second)
            EnsureParentDirectories(targetPath);
        file.open(tempPath, std::ios::binary | std::ios::out | std::ios::trunc);
        if (!file.is_open()) {
            openFailed = true;
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

enum class Outcome { Stored, Redirect, BackOff, Failed };

// One file on its way: which address it is at and what its attempts have used up.
struct Job {
    int index = 0;
    const DownloadItem* item = nullptr;
    std::array<std::string, 2> candidates;
    int candidateCount = 0;
    int candidate = 0;
    int attempt = 0;
    int hops = 0;  // redirects followed in this attempt
    std::string current;
    int backOffBudget = kBackOffBudget;
    std::chrono::milliseconds backOffDelay = kFirstBackOff;
    Clock::time_point lastProgress;  // the start, or when the last piece of its body arrived
    Clock::time_point notBefore;     // the end of a back-off wait
    std::string error;
    std::unique_ptr<Receiver> receiver;
    HttpTransfers::Id transfer = 0;
    bool running = false;

    // The first address of the next candidate; false when none is left.
    bool NextCandidate() {
        if (++candidate >= candidateCount) return false;
        attempt = 0;
        backOffBudget = kBackOffBudget;
        backOffDelay = kFirstBackOff;
        current = candidates[candidate];
        return true;
    }
};

// What one answer means for its file; the file's state and error text are updated.
Outcome Evaluate(Job& job, const HttpResponse& response) {
    Receiver& receiver = *job.receiver;
    const bool closedCleanly = receiver.Close();
    std::string& error = job.error;
    const std::string& targetPath = job.item->target;

    if (!response.answered) {
        if (response.failure == HttpFailure::Setup) {
            error = "无法初始化网络";
        } else if (response.failure == HttpFailure::BadRequest) {
            error = "请求创建失败";
        } else {
            error = "请求失败 " + job.current;
        }
        return Outcome::Failed;
    }

    const int status = response.status;
    if (status == 200) {
        if (receiver.openFailed) {
            error = kDownloadWriteFailedMessage + receiver.tempName;
            return Outcome::Failed;
        }
        const bool overlong = response.failure == HttpFailure::Aborted && !receiver.writeFailed;
        if ((!response.ok() && !overlong) || receiver.writeFailed || !closedCleanly ||
            receiver.written == 0) {
            RemoveQuietly(receiver.tempPath);
            error = kDownloadIncompleteMessage + targetPath;
            return Outcome::Failed;
        }
        if (overlong || !receiver.Matches()) {
            RemoveQuietly(receiver.tempPath);
            error = kDownloadMismatchMessage + targetPath;
            return Outcome::Failed;
        }
        std::error_code moveError;
        std::filesystem::rename(receiver.tempPath, Utf8Path(targetPath), moveError);
        if (moveError) {
            RemoveQuietly(receiver.tempPath);
            error = kDownloadReplaceFailedMessage + targetPath + "（可能被占用）";
            return Outcome::Failed;
        }
        return Outcome::Stored;
    }

    if (IsRedirect(status)) {
        const std::optional<std::string> location = response.Header("Location");
        if (location && !location->empty() && location->size() <= kLongestLocation) {
            std::string next = ResolveLocation(job.current, *location);
            if (!RedirectAllowed(job.current, next)) {
                error = kRedirectRefusedMessage + next;
                return Outcome::Failed;
            }
            job.current = std::move(next);
            return Outcome::Redirect;
        }
    } else if ((status == 429 || status == 503) && job.backOffBudget > 0) {
        return Outcome::BackOff;
    }
    error = kDownloadStatusMessage + std::to_string(status) + " " + job.current;
    return Outcome::Failed;
}

// What the threads of one batch share: the items still to start, and the caller's callables,
// which run one call at a time.
struct SharedBatch {
    SharedBatch(const std::vector<DownloadItem>& all, const DownloadOptions& chosen,
                const DownloadFinished& onFinished, const DownloadCancelled& onCancel)
        : items(all), options(chosen), finished(onFinished), cancelled(onCancel) {}

    const std::vector<DownloadItem>& items;
    const DownloadOptions& options;
    const DownloadFinished& finished;
    const DownloadCancelled& cancelled;
    std::atomic<std::size_t> next{0};
    std::atomic<int> stored{0};
    std::atomic<bool> stopped{false};
    std::mutex mutex;

    std::optional<std::size_t> Take() {
        if (stopped) return std::nullopt;
        const std::size_t index = next.fetch_add(1);
        return index < items.size() ? std::optional(index) : std::nullopt;
    }
    bool Cancelled() {
        if (stopped) return true;
        if (!cancelled) return false;
        std::lock_guard lock(mutex);
        if (cancelled()) stopped = true;
        return stopped;
    }
    void Report(int index, bool ok, const std::string& error) {
        if (ok) ++stored;
        if (!finished) return;
        std::lock_guard lock(mutex);
        finished(index, ok, error);
    }
};

// Some of a batch's files on one set of transfers, driven by one thread.
class Batch {
  public:
    Batch(SharedBatch& shared, std::size_t width, HttpTransfers& transfers)
        : items_(shared.items), options_(shared.options), shared_(shared), width_(width), transfers_(transfers) {}

    void Run() {
        for (;;) {
            if (shared_.Cancelled()) {
                StopAll();
                return;
            }
            while (jobs_.size() < width_) {
                const std::optional<std::size_t> index = shared_.Take();
                if (!index) break;
                Begin(*index);
            }
            if (jobs_.empty()) return;
            const auto now = Clock::now();
            auto wake = now + std::chrono::milliseconds(200);  // the cancel check's pace
            for (auto it = waiting_.begin(); it != waiting_.end();) {
                Job* job = *it;
                if (job->notBefore <= now) {
                    it = waiting_.erase(it);
                    Launch(*job);
                } else {
                    wake = std::min(wake, job->notBefore);
                    ++it;
                }
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
            if (transfers_.Running() > 0) {
                transfers_.Run(std::max(left, std::chrono::milliseconds(0)));
            } else if (!waiting_.empty()) {
                std::this_thread::sleep_for(left);
            }
        }
    }

  private:
    void Begin(std::size_t index) {
        auto job = std::make_unique<Job>();
        const DownloadItem& item = items_[index];
        job->index = static_cast<int>(index);
        job->item = &item;
        job->candidates[0] = options_.mirrorForm ? options_.mirrorForm(item.url) : RewriteToMirror(item.url);
        job->candidates[1] = item.url;
        // The same address twice would only ask it twelve times: it is one candidate then.
        job->candidateCount = job->candidates[0] == job->candidates[1] ? 1 : 2;
        job->current = job->candidates[0];
        job->lastProgress = Clock::now();
        Job& started = *job;
        jobs_.emplace(started.index, std::move(job));
        Launch(started);
    }

    // Sends the request of the job's current address, or ends the file when its time is up.
    void Launch(Job& job) {
        const auto now = Clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            job.lastProgress + options_.deadline - now);
        if (left <= std::chrono::milliseconds(0)) {
            job.error = kDownloadStalledMessage +
                        std::to_string(std::chrono::ceil<std::chrono::seconds>(options_.deadline).count()) +
                        " 秒内没有收到数据）" + job.current;
            Finish(job, false);
            return;
        }
        const UrlParts parts = ParseUrl(job.current);
        if (parts.host.empty() || parts.port > 65535) {
            job.error = "无法连接 " + parts.host;
            EndAttempt(job);
            return;
        }
        HttpRequest request;
        request.url = RequestAddress(parts);
        request.connectTimeout = std::min(options_.connectTimeout, left);
        request.receiveTimeout = std::min(options_.receiveTimeout, left);
        request.trustedCertificates = options_.trustedCertificates;
        job.receiver = std::make_unique<Receiver>(job.item->target, job.item->expected);
        Receiver* receiver = job.receiver.get();
        Job* self = &job;
        job.running = true;
        job.transfer = transfers_.Start(
            request,
            [receiver, self](std::string_view piece) {
                if (!receiver->OnBody(piece)) return false;
                if (receiver->fileOpen) self->lastProgress = Clock::now();
                return true;
            },
            [this, receiver](const HttpResponse& head) { return receiver->OnHead(head, folders_); },
            [this, self](const HttpResponse& response) { Answered(*self, response); });
    }

    void Answered(Job& job, const HttpResponse& response) {
        job.running = false;
        switch (Evaluate(job, response)) {
            case Outcome::Stored:
                Finish(job, true);
                return;
            case Outcome::Redirect:
                if (++job.hops <= kRedirectsPerAttempt) {
                    Launch(job);
                    return;
                }
                // A loop does not end by asking again: the candidate is done.
                job.error = "重定向次数过多 " + job.current;
                job.attempt = kAttemptsPerCandidate - 1;
                break;
            case Outcome::BackOff:
                --job.backOffBudget;
                if (options_.wait) {
                    options_.wait(job.backOffDelay);
                    job.notBefore = Clock::now();
                } else {
                    job.notBefore = Clock::now() + job.backOffDelay;
                }
                job.backOffDelay *= 2;
                // The wait is no silence of the file's: its deadline starts again after it.
                job.lastProgress = std::max(job.lastProgress, job.notBefore);
                if (job.attempt + 1 < kAttemptsPerCandidate) {
                    ++job.attempt;
                    job.hops = 0;
                    job.current = job.candidates[job.candidate];
                    waiting_.push_back(&job);
                    return;
                }
                break;  // the candidate's last attempt: on to the next one
            case Outcome::Failed:
                break;
        }
        EndAttempt(job);
    }

    // The next attempt starts from the candidate's own address; past the last attempt of the
    // last candidate the file has failed.
    void EndAttempt(Job& job) {
        job.hops = 0;
        if (++job.attempt >= kAttemptsPerCandidate && !job.NextCandidate()) {
            Finish(job, false);
            return;
        }
        job.current = job.candidates[job.candidate];
        Launch(job);
    }

    void Finish(Job& job, bool stored) {
        const int index = job.index;
        const std::string error = std::move(job.error);
        jobs_.erase(index);
        shared_.Report(index, stored, error);
    }

    void StopAll() {
        for (auto& [index, job] : jobs_) {
            if (!job->running) continue;
            transfers_.Stop(job->transfer);
            if (job->receiver && job->receiver->fileOpen) {
                job->receiver->Close();
                RemoveQuietly(job->receiver->tempPath);
            }
        }
        jobs_.clear();
        waiting_.clear();
    }

    const std::vector<DownloadItem>& items_;
    const DownloadOptions& options_;
    SharedBatch& shared_;
    const std::size_t width_;
    HttpTransfers& transfers_;
    std::map<int, std::unique_ptr<Job>> jobs_;  // the files on their way
    std::vector<Job*> waiting_;                 // in a back-off wait
    std::unordered_set<std::string> folders_;   // parent folders already made
};

}  // namespace

DownloadFailure DownloadFailureOf(std::string_view error) {
    if (error.starts_with(kDownloadMismatchMessage)) return DownloadFailure::Mismatch;
    if (error.starts_with(kDownloadIncompleteMessage)) return DownloadFailure::Incomplete;
    if (error.starts_with(kDownloadWriteFailedMessage) || error.starts_with(kDownloadReplaceFailedMessage)) {
        return DownloadFailure::Disk;
    }
    if (error.starts_with(kDownloadStatusMessage)) return DownloadFailure::Status;
    return DownloadFailure::Network;
}

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error) {
    return DownloadFile(url, targetPath, error, DownloadOptions{});
}

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error,
                  const ExpectedFile& expected) {
    return DownloadFile(url, targetPath, error, DownloadOptions{}, expected);
}

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error,
                  const DownloadOptions& options, const ExpectedFile& expected) {
    const std::vector<DownloadItem> items{{url, targetPath, expected}};
    return DownloadFiles(items, options, [&error](int, bool, const std::string& last) {
               error = last;
           }) == 1;
}

int DownloadFiles(const std::vector<DownloadItem>& items, const DownloadOptions& options,
                  const DownloadFinished& finished, const DownloadCancelled& cancelled) {
    SharedBatch shared(items, options, finished, cancelled);
    // A few threads share the files, each with its own transfers: writing and hashing large
    // bodies then uses more than one processor. Small batches stay on the calling thread.
    const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    int threads = options.threads > 0 ? options.threads : std::min(processors, 4);
    threads = std::clamp(threads, 1, std::max(1, static_cast<int>(items.size() / 16)));
    const std::size_t width = static_cast<std::size_t>(std::max(1, std::max(options.parallel, 1) / threads));

    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back([&shared, width] {
                HttpTransfers transfers;
                Batch(shared, width, transfers).Run();
            });
        } catch (const std::system_error&) {
            break;  // fewer threads; the ones running take every file
        }
    }
    {
        // The calling thread's own set keeps its connections for the next batch; a set that is
        // busy (a batch started from a handler of another) is left alone.
        HttpTransfers* transfers = &ThreadTransfers();
        std::unique_ptr<HttpTransfers> own;
        if (transfers->Busy() || transfers->Running() > 0) {
            own = std::make_unique<HttpTransfers>();
            transfers = own.get();
        }
        Batch(shared, width, *transfers).Run();
    }
    for (std::thread& helper : helpers) helper.join();
    return shared.stored.load();
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

// One look at the file each (a folder or anything else that is no file has no size).
bool FileIsNonEmpty(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(Utf8Path(path), error);
    return !error && size > 0;
}

bool FileIsPresent(const std::string& path, std::int64_t declaredSize) {
    std::error_code error;
    const auto size = std::filesystem::file_size(Utf8Path(path), error);
    if (error || size == 0) return false;
    return declaredSize < 0 || size == static_cast<std::uintmax_t>(declaredSize);
}

}  // namespace lumivale
