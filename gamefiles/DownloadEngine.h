#pragma once
// One URL to one file on disk: the mirror form first, then the URL itself (once when both are the
// same address), each tried up to six times, redirects followed within an attempt, the body
// written to a ".part" file and moved into place only once complete. DownloadFiles runs many such
// downloads at once on the calling thread; RunParallel runs other work on a small pool.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

// True when the file is in place. On false, `error` holds the message of the last failure. An
// existing target is replaced only by a complete, non-empty body.
bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error);

// What a version JSON or an asset index declares about a file. A body whose size or SHA-1 (hashed
// while it streams in) differs is refused like a failed attempt: the target stays as it was.
struct ExpectedFile {
    std::string sha1;        // lower-case hexadecimal; empty: not checked
    std::int64_t size = -1;  // bytes; negative: not checked
};

// Message of a body whose size or SHA-1 is not the declared one.
inline constexpr const char* kDownloadMismatchMessage = "下载内容与声明的校验值不符 ";

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error,
                  const ExpectedFile& expected);

// What DownloadFile waits for and where it finds the mirror form. The defaults are the launcher's;
// tests shorten the time-outs, record the back-off waits instead of sleeping, and point the mirror
// form at their own servers.
struct DownloadOptions {
    // Resolving the host and connecting (TLS handshake included).
    std::chrono::milliseconds connectTimeout{30000};
    // The longest silence while waiting for an answer or for the next piece of its body.
    std::chrono::milliseconds receiveTimeout{30000};
    // The back-off after a 429 or 503 answer (1000, 2000, 4000 ms per candidate); empty: sleep.
    std::function<void(std::chrono::milliseconds)> wait;
    // The first candidate of a URL; empty: RewriteToMirror.
    std::function<std::string(const std::string&)> mirrorForm;
    // PEM file of the certificates to trust instead of the system's store; empty: the system's.
    std::string trustedCertificates;
    // The longest a file may go without any of its body arriving, counted over all its attempts
    // from its start: past it the file fails with kDownloadStalledMessage. A body that keeps
    // coming never runs out of time, however long it is.
    std::chrono::milliseconds deadline{60000};
    // Transfers DownloadFiles keeps going at once, and the threads that share them (each with
    // its own connections); 0 threads: one per processor, at most 4, fewer for small batches.
    int parallel = 64;
    int threads = 0;
};

// Message of a file that received nothing for longer than DownloadOptions::deadline; followed by
// the seconds, "秒内没有收到数据）" and the address last asked.
inline constexpr const char* kDownloadStalledMessage = "下载超时（";
// Message of a redirect from https:// to http://, followed by the address it leads to.
inline constexpr const char* kRedirectRefusedMessage = "拒绝从 https 重定向到不安全的地址 ";
// Messages of the other failures, each followed by the file or address concerned.
inline constexpr const char* kDownloadStatusMessage = "下载返回状态 ";  // then the status and the address
inline constexpr const char* kDownloadIncompleteMessage = "下载内容不完整 ";
inline constexpr const char* kDownloadWriteFailedMessage = "无法写入文件 ";
inline constexpr const char* kDownloadReplaceFailedMessage = "无法替换目标文件 ";

// The kind of failure one of the messages above names; Network for any other.
enum class DownloadFailure { Network, Status, Incomplete, Mismatch, Disk };
DownloadFailure DownloadFailureOf(std::string_view error);

bool DownloadFile(const std::string& url, const std::string& targetPath, std::string& error,
                  const DownloadOptions& options, const ExpectedFile& expected = {});

// One file of a batch.
struct DownloadItem {
    std::string url;
    std::string target;
    ExpectedFile expected;
};

// Called as each file of a batch ends, in the order they end; `error` is
// the message of the file's last failure.
using DownloadFinished = std::function<void(int index, bool stored, const std::string& error)>;
// True once the caller wants the batch to stop.
using DownloadCancelled = std::function<bool()>;

// Every item as DownloadFile would fetch it, `options.parallel` at a time, on the calling thread
// and up to options.threads - 1 helpers (each thread one set of transfers: connections are reused,
// and a server that offers HTTP/2 carries many files on one connection). Returns how many files
// are in place. `finished` and `cancelled` are called one call at a time, from any of these
// threads. Once `cancelled` answers true, running transfers stop, their temporary files are
// removed and the call returns; files not yet ended are not reported.
int DownloadFiles(const std::vector<DownloadItem>& items, const DownloadOptions& options,
                  const DownloadFinished& finished = nullptr,
                  const DownloadCancelled& cancelled = nullptr);

// Runs work(i) for i in 0..count-1 on `workers` threads (8 when below 1, never more than count),
// the calling thread included; completion(i, ok) runs under one mutex. A work call that throws
// counts as false. Returns how many calls returned true.
int RunParallel(int count, int workers, const std::function<bool(int)>& work,
                const std::function<void(int, bool)>& completion = nullptr);

// Creates every missing folder on the way to the file's parent; failures are ignored.
void EnsureParentDirectories(const std::string& filePath);

// True for an existing file (not a folder) larger than 0 bytes.
bool FileIsNonEmpty(const std::string& path);

// FileIsNonEmpty, and of the declared size when one is declared (a file cut short is not present).
bool FileIsPresent(const std::string& path, std::int64_t declaredSize);

}  // namespace lumivale
