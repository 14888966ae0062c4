// What a batch of downloads tells the player: failures apart from successes, the failed files
// named (the first few, then a count) and a cause to act on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DownloadEngine.h"
#include "DownloadTally.h"

namespace lumivale::test {
namespace {

TEST(DownloadTally, EachEngineFailureGetsACauseThePlayerCanActOn) {
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"无法连接 127.0.0.1", kNetworkCause},
        {"请求失败 http://127.0.0.1:9/x", kNetworkCause},
        {std::string(kDownloadStatusMessage) + "404 http://127.0.0.1/x", kServerCause},
        {std::string(kDownloadMismatchMessage) + "/tmp/x.jar", kChecksumCause},
        {std::string(kDownloadIncompleteMessage) + "/tmp/x.jar", kChecksumCause},
        {std::string(kDownloadWriteFailedMessage) + "/tmp/x.jar.part", kDiskCause},
        {std::string(kDownloadReplaceFailedMessage) + "/tmp/x.jar（可能被占用）", kDiskCause},
    };
    for (const auto& [engineError, cause] : cases) EXPECT_EQ(DownloadFailureCause(engineError), cause) << engineError;
}

TEST(DownloadTally, FailuresAreCountedApartAndTheFirstFewNamed) {
    DownloadTally tally(6);
    tally.Succeeded(1000);
    tally.Failed("a.jar", "无法连接 mirror");
    EXPECT_EQ(tally.Percent(), 16) << "a failed file does not move the bar";
    EXPECT_EQ(tally.ProgressLine().substr(0, std::string("已完成 1/6 · 失败 1 · 剩余 4").size()), "已完成 1/6 · 失败 1 · 剩余 4");
    EXPECT_EQ(tally.FailureMessage(), std::string("1 个文件没能下载：a.jar。") + kNetworkCause);
    for (const char* name : {"b.jar", "c.jar", "d.jar"}) tally.Failed(name, "无法写入文件 x");
    EXPECT_EQ(tally.FailureMessage(), std::string("4 个文件没能下载：a.jar、b.jar、c.jar 等 4 个。") + kNetworkCause);
    EXPECT_EQ(DownloadTally(0).FailureMessage(), "");
}

TEST(DownloadTally, RatesReadAsKilobytesOrMegabytes) {
    EXPECT_EQ(FormatRate(512 * 1024), "512 KB/s");
    EXPECT_EQ(FormatRate(1.5 * 1048576), "1.5 MB/s");
}

}  // namespace
}  // namespace lumivale::test
