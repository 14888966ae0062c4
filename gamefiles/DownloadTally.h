#pragma once
// Counting a batch of downloads the way a player reads it: files that arrived and files that
// failed apart, what is left, the speed, the names of the failed files and one cause the player
// can act on. Not thread-safe: the download pool's completion callback updates it under its mutex.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivale {

// How many failed files a message names before it gives only their count.
inline constexpr std::size_t kNamedFailures = 3;

inline constexpr const char* kNetworkCause = "无法连接下载服务器，请检查网络或稍后重试";
inline constexpr const char* kServerCause = "下载服务器暂时给不出这个文件，请稍后重试";
inline constexpr const char* kChecksumCause = "下载到的文件内容不对，可能是下载源出错，请稍后重试";
inline constexpr const char* kDiskCause = "无法写入游戏文件夹，请检查磁盘空间和文件夹权限";

// The cause a player can act on, from the download engine's message of one failure.
std::string DownloadFailureCause(const std::string& engineError);

// "850 KB/s" or "1.2 MB/s".
std::string FormatRate(double bytesPerSecond);

struct DownloadTally {
    int total = 0;
    int succeeded = 0;
    int failed = 0;
    std::int64_t bytes = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::vector<std::string> failedFiles;  // labels, in the order they failed
    std::string firstError;                // the engine's message of the first failure

    explicit DownloadTally(int count) : total(count) {}

    void Succeeded(std::int64_t size);
    void Failed(const std::string& label, const std::string& engineError);
    int Finished() const { return succeeded + failed; }
    // Percentage of the files that arrived; failed ones do not move it.
    int Percent() const;
    // "已完成 10/13 · 失败 1 · 剩余 2", then " · 1.2 MB/s" once a second has passed.
    std::string ProgressLine() const;
    // "2 个文件没能下载：a.jar、b.jar。<cause>"; the first kNamedFailures names, then "等 N 个".
    std::string FailureMessage() const;
};

}  // namespace lumivale
