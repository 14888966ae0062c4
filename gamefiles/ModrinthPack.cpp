#include "ModrinthPack.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>
#include <utility>

#include "DownloadEngine.h"
#include "Log.h"
#include "ModpackZip.h"
#include "Paths.h"

namespace lumivale {

namespace fs = std::filesystem;

void DownloadModrinthFiles(const std::vector<ModrinthFile>& files, const std::string& versionFolder,
                           const ModpackProgress& progress, ModCounters& counters) {
    counters = ModCounters{};
    const int total = static_cast<int>(files.size());
    counters.total = total;
    std::vector<int> codes(files.size(), kModFailed);
    std::atomic<int> finished{0};
    const auto report = [&](int percent, const std::string& text) {
        if (progress) progress(kModpackModsStep, kModpackStepCount, percent, text);
    };
    const fs::path folder = Utf8Path(versionFolder);
    RunParallel(
        total, kModWorkers,
        [&](int i) {
            const ModrinthFile& file = files[static_cast<std::size_t>(i)];
            int& code = codes[static_cast<std::size_t>(i)];
            std::string relative;
            if (!SafeRelativePath(file.path, relative)) {
                ConsoleLog("跳过可疑的整合包文件路径：" + file.path);
                return false;
            }
            const fs::path target = folder / Utf8Path(relative);
            const std::string targetText = PathUtf8(target);
            if (FileIsNonEmpty(targetText) && (file.sha1.empty() || Sha1OfFile(targetText) == file.sha1)) {
                code = kModPresent;
                return false;
            }
            if (file.url.empty()) {
                ConsoleLog("整合包文件没有下载地址：" + file.path);
                return false;
            }
            // Fetched beside its place and moved in only once its SHA-1 matches.
            const std::string pending = targetText + ".download";
            EnsureParentDirectories(targetText);
            std::string error;
            if (!DownloadFile(file.url, pending, error)) {
                ConsoleLog("整合包文件下载失败：" + file.path + "（" + error + "）");
                return false;
            }
            std::error_code ignored;
            if (!file.sha1.empty() && Sha1OfFile(pending) != file.sha1) {
                fs::remove(Utf8Path(pending), ignored);
                ConsoleLog("整合包文件校验失败（sha1 不符），已丢弃：" + file.path);
                return false;
            }
            std::error_code moveError;
            fs::rename(Utf8Path(pending), target, moveError);
            if (moveError) {
                fs::remove(Utf8Path(pending), ignored);
                return false;
            }
            code = kModDirect;
            return true;
        },
        [&](int i, bool) {
            switch (codes[static_cast<std::size_t>(i)]) {
                case kModPresent: ++counters.skipped; break;
                case kModDirect: ++counters.direct; break;
                default: ++counters.failed; break;
            }
            const int done = ++finished;
            if (done % 10 == 0 || done == total) {
                report(done * 100 / std::max(total, 1),
                       "文件 " + std::to_string(done) + "/" + std::to_string(total));
            }
        });
    report(100, "整合包文件就绪(下载 " + std::to_string(counters.direct) + " 个，跳过 " +
                    std::to_string(counters.skipped) + " 个，失败 " +
                    std::to_string(counters.failed) + " 个)");
}

}  // namespace lumivale
