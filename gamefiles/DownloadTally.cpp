#include "DownloadTally.h"

#include <cstdio>

#include "DownloadEngine.h"

namespace lumivale {

std::string DownloadFailureCause(const std::string& engineError) {
    switch (DownloadFailureOf(engineError)) {
        case DownloadFailure::Mismatch:
        case DownloadFailure::Incomplete: return kChecksumCause;
        case DownloadFailure::Disk: return kDiskCause;
        case DownloadFailure::Status: return kServerCause;
        case DownloadFailure::Network: break;
    }
    return kNetworkCause;
}

std::string FormatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1048576.0) {
        std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1048576.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f KB/s", bytesPerSecond / 1024.0);
    }
    return text;
}

void DownloadTally::Succeeded(std::int64_t size) {
    ++succeeded;
    if (size > 0) bytes += size;
}

void DownloadTally::Failed(const std::string& label, const std::string& engineError) {
    ++failed;
    failedFiles.push_back(label);
    if (firstError.empty()) firstError = engineError;
}

int DownloadTally::Percent() const { return total > 0 ? succeeded * 100 / total : 100; }

std::string DownloadTally::ProgressLine() const {
    std::string line = "已完成 " + std::to_string(succeeded) + "/" + std::to_string(total);
    if (failed > 0) line += " · 失败 " + std::to_string(failed);
    line += " · 剩余 " + std::to_string(total - Finished());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (seconds >= 1.0 && bytes > 0) line += " · " + FormatRate(static_cast<double>(bytes) / seconds);
    return line;
}

std::string DownloadTally::FailureMessage() const {
    if (failed == 0) return {};
    std::string names;
    for (std::size_t i = 0; i < failedFiles.size() && i < kNamedFailures; ++i) {
        if (i > 0) names += "、";
        names += failedFiles[i];
    }
    if (failedFiles.size() > kNamedFailures) names += " 等 " + std::to_string(failedFiles.size()) + " 个";
    return std::to_string(failed) + " 个文件没能下载：" + names + "。" + DownloadFailureCause(firstError);
}

}  // namespace lumivale
