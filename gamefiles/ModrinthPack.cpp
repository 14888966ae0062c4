#include "ModrinthPack.h"

#include <algorithm>
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
    int finished = 0;
    const auto report = [&](int percent, const std::string& text) {
        if (progress) progress(kModpackModsStep, kModpackStepCount, percent, text);
    };
    const fs::path folder = Utf8Path(versionFolder);
    auto count = [&](std::size_t i) {
        switch (codes[i]) {
            case kModPresent: ++counters.skipped; break;
            case kModDirect: ++counters.direct; break;
            default: ++counters.failed; break;
        }
        const int done = ++finished;
        if (done % 10 == 0 || done == total) {
            report(done * 100 / std::max(total, 1),
                   "文件 " + std::to_string(done) + "/" + std::to_string(total));
        }
    };
    // What is missing goes to the engine in one batch, checked by SHA-1 while it streams in: a
    // file that does not match never takes its place.
    std::vector<DownloadItem> batch;
    std::vector<std::size_t> batchFile;  // the index in `files` of each batch item
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ModrinthFile& file = files[i];
        std::string relative;
        std::string target;
        if (!SafeRelativePath(file.path, relative)) {
            ConsoleLog("跳过可疑的整合包文件路径：" + file.path);
        } else if (target = PathUtf8(folder / Utf8Path(relative));
                   FileIsNonEmpty(target) && (file.sha1.empty() || Sha1OfFile(target) == file.sha1)) {
            codes[i] = kModPresent;
        } else if (file.url.empty()) {
            ConsoleLog("整合包文件没有下载地址：" + file.path);
        } else {
            batch.push_back({file.url, target, ExpectedFile{file.sha1, -1}});
            batchFile.push_back(i);
            continue;
        }
        count(i);
    }
    DownloadOptions options;
    options.parallel = kModWorkers;
    DownloadFiles(batch, options, [&](int item, bool stored, const std::string& error) {
        const std::size_t i = batchFile[static_cast<std::size_t>(item)];
        if (stored) {
            codes[i] = kModDirect;
        } else if (error.starts_with(kDownloadMismatchMessage)) {
            ConsoleLog("整合包文件校验失败（sha1 不符），已丢弃：" + files[i].path);
        } else {
            ConsoleLog("整合包文件下载失败：" + files[i].path + "（" + error + "）");
        }
        count(i);
    });
    report(100, "整合包文件就绪(下载 " + std::to_string(counters.direct) + " 个，跳过 " +
                    std::to_string(counters.skipped) + " 个，失败 " +
                    std::to_string(counters.failed) + " 个)");
}

}  // namespace lumivale
