// The Java installation's rules (catalogue cut, names, texts), the install thread against a
// loopback backend with stand-in installers for every outcome, and the Linux installer on real
// archives, hostile ones included.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "CloudClient.h"
#include "HttpTransport.h"
#include "JavaInstall.h"
#include "JavaInstallCommands.h"
#include "JavaPackageInstaller.h"
#include "JsonFields.h"
#include "TarWriter.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "ZipWriter.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using Kind = TarEntry::Kind;

TEST(JavaCatalogue, ItemsAreCutFromTheAnswerOrTheListSaysItCouldNotConnect) {
    EXPECT_EQ(JavaCatalogueEvent(R"({"success":true,"items":[{"name":"a","tags":["x",["y"]]},{"name":"b"}]})"),
              R"({"type":"java:list","items":[{"name":"a","tags":["x",["y"]]},{"name":"b"}]})");
    EXPECT_EQ(JavaCatalogueEvent(R"({"items":[]})"), R"({"type":"java:list","items":[]})");
    // A bracket inside a name does not cut the array short.
    EXPECT_EQ(CutItemsArray(R"({"items":[{"name":"jdk]["}],"n":1})"), R"([{"name":"jdk]["}])");
    // No items array, an unclosed one, an empty answer: an empty list that says why.
    const std::string unavailable = R"({"type":"java:list","items":[],"error":"无法连接服务端"})";
    EXPECT_EQ(JavaCatalogueEvent(R"({"success":false,"error":"down"})"), unavailable);
    EXPECT_EQ(JavaCatalogueEvent(R"({"items":[{"name":"a"})"), unavailable);
    EXPECT_EQ(JavaCatalogueEvent("<html>502</html>"), unavailable);
    EXPECT_EQ(JavaCatalogueEvent(""), unavailable);
    EXPECT_EQ(JavaCatalogueNoCloudEvent(), R"({"type":"java:list","items":[],"error":"云端未连接"})");

    EXPECT_TRUE(BackendAnswerSucceeded(R"({"success": true,"url":""})"));
    EXPECT_FALSE(BackendAnswerSucceeded(R"({"success":"true"})"));
    EXPECT_FALSE(BackendAnswerSucceeded(R"({"success" :true})"));
}

TEST(JavaCatalogue, PackageAndRuntimeNamesAreAlwaysPlainFileNames) {
    EXPECT_EQ(JavaPackageFileName("java/21/OpenJDK21-x64.tar.gz", "x", ".tar.gz"), "OpenJDK21-x64.tar.gz");
    EXPECT_EQ(JavaPackageFileName("jdk.msi", "x", ".msi"), "jdk.msi");
    EXPECT_EQ(CleanJavaPackageName(R"(a"*/:<>?\|b)"), "a_________b");
    // Without a usable last part the page's name is cleaned.
    EXPECT_EQ(JavaPackageFileName("", "Java 21/x64", ".msi"), "Java 21_x64.msi");
    EXPECT_EQ(JavaPackageFileName("java/", "j", ".msi"), "j.msi");
    EXPECT_EQ(JavaPackageFileName("java/..", "j", ".msi"), "j.msi");
    EXPECT_EQ(JavaPackageFileName("a\\..\\..\\evil", "j", ".msi"), "j.msi");
    EXPECT_EQ(JavaPackageFileName("k/" + std::string(255, 'n'), "j", ".msi"), std::string(255, 'n'));
    EXPECT_EQ(JavaPackageFileName("k/" + std::string(256, 'n'), "j", ".msi"), "j.msi");

    EXPECT_EQ(JavaRuntimeFolderName("Java 21 x64"), "Java 21 x64");
    EXPECT_EQ(JavaRuntimeFolderName("../jdk"), ".._jdk");
    EXPECT_EQ(JavaRuntimeFolderName("a\nb"), "a_b");
    EXPECT_EQ(JavaRuntimeFolderName(".."), "java");
    EXPECT_EQ(JavaRuntimeFolderName(""), "java");
    EXPECT_EQ(JavaDownloadFolder("/t"), fs::path("/t/LumivaleLauncher/java"));
}

TEST(JavaCatalogue, ProgressTextsAndEvents) {
    EXPECT_EQ(JavaDownloadText(5, -1), "正在下载 0 MB");
    EXPECT_EQ(JavaDownloadPercent(5, -1), 0);
    EXPECT_EQ(JavaDownloadText(3 * 1048576 + 1048575, 10 * 1048576), "正在下载 3 MB / 10 MB");
    EXPECT_EQ(JavaDownloadPercent(3 * 1048576 + 1048575, 10 * 1048576), 39);
    EXPECT_EQ(JavaDownloadPercent(7, 7), 100);
    EXPECT_EQ(JavaProgressEvent("a\"b", "done", 100, "安装完成 ✓"),
              R"({"type":"java:progress","name":"a\"b","phase":"done","percent":100,"text":"安装完成 ✓"})");
    EXPECT_EQ(JavaInstallBusyEvent("x"),
              R"({"type":"java:progress","name":"x","phase":"error","text":"已有 Java 安装任务进行中"})");
}

// An installer that reports what it is told and remembers what it was given.
class StandInInstaller : public JavaPackageInstaller {
public:
    JavaPackageResult result;
    bool callAwaiting = false;
    JavaPackageJob seen;
    bool NeedsElevation() const override { return true; }
    std::string PackageSuffix() const override { return ".msi"; }
    JavaPackageResult Install(const JavaPackageJob& job, const std::function<void()>& awaiting) override {
        seen = job;
        EXPECT_TRUE(fs::exists(job.package));
        if (callAwaiting) awaiting();
        return result;
    }
};

class JavaInstallThread : public ::testing::Test {
protected:
    void SetUp() override {
        backend_.Serve("/api/java/download", TestReply::Ok(R"({"success":true,"url":")" + backend_.Url("/pkg") +
                                                           R"(","key":"java/21/jdk.msi"})"));
        backend_.Serve("/pkg", TestReply::Ok(std::string(3 * 1048576, 'p')));
    }
    void TearDown() override { CloseHttpConnections(); }

    // Runs one installation on this thread; the events it sent.
    std::vector<std::string> Run(std::shared_ptr<JavaPackageInstaller> installer, bool withCloud = true) {
        std::vector<std::string> events;
        JavaInstallTask task;
        task.name = "Java 21";
        if (withCloud) task.cloud = std::make_shared<CloudClient>(backend_.base());
        task.installer = std::move(installer);
        task.downloadFolder = home_.root() / "tmp" / "LumivaleLauncher" / "java";
        task.programFolder = home_.program();
        task.busy = busy_;
        task.send = [&](std::string json) {
            EXPECT_TRUE(busy_->load() || json.find(R"("phase":"done")") != std::string::npos ||
                        json.find(R"("phase":"error")") != std::string::npos);
            events.push_back(std::move(json));
        };
        task.installed = [&](const std::string& exe) { installed_.push_back(exe); };
        busy_->store(true);
        RunJavaInstall(task);
        EXPECT_FALSE(busy_->load());
        return events;
    }
    fs::path package() const { return home_.root() / "tmp" / "LumivaleLauncher" / "java" / "jdk.msi"; }
    std::string logText() const { return (home_.program() / "log" / "java-install.log").string(); }

    static std::string Event(const std::string& phase, int percent, const std::string& text) {
        return JavaProgressEvent("Java 21", phase, percent, text);
    }

    TempHome home_;
    TestHttpServer backend_;
    std::shared_ptr<std::atomic<bool>> busy_ = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::string> installed_;
};

TEST_F(JavaInstallThread, EveryInstallerOutcomeEndsWithItsOwnPhaseAndText) {
    auto installer = std::make_shared<StandInInstaller>();

    // Restart needed: every phase in order, one event per change the page can see.
    installer->result = {JavaPackageOutcome::InstalledRestartNeeded, 3010, ""};
    WriteFile(home_.program() / "installer.log", "stale");
    std::vector<std::string> events = Run(installer);
    ASSERT_GE(events.size(), 5u) << ::testing::PrintToString(events);
    EXPECT_EQ(events[0], Event("resolve", 0, "正在获取下载地址…"));
    EXPECT_EQ(events[1], Event("download", 0, "正在下载安装包…"));
    int lastPercent = 0;
    for (std::size_t i = 2; i + 3 < events.size(); ++i) {
        const int percent = static_cast<int>(ReadIntField(events[i], "percent"));
        EXPECT_GE(percent, lastPercent) << events[i];
        EXPECT_NE(events[i], events[i + 1]);  // one event per visible change
        lastPercent = percent;
    }
    EXPECT_EQ(events[events.size() - 3], Event("download", 100, "正在下载 3 MB / 3 MB"));
    EXPECT_EQ(events[events.size() - 2], Event("install", 100, "正在安装（需要管理员授权）…"));
    EXPECT_EQ(events.back(), Event("done", 100, "安装完成，重启后生效 ✓"));
    EXPECT_EQ(installer->seen.runtimeName, "Java 21");
    EXPECT_EQ(installer->seen.log, home_.program() / "log" / "java-install.log");
    EXPECT_FALSE(fs::exists(package()));
    EXPECT_FALSE(fs::exists(home_.program() / "installer.log"));
    EXPECT_TRUE(installed_.empty());  // the system installer lists the runtime itself

    // Failed: the package and the log stay.
    installer->result = {JavaPackageOutcome::Failed, 1603, ""};
    events = Run(installer);
    EXPECT_EQ(events.back(), Event("error", 0, "安装失败（错误码 1603），日志：" + logText()));
    EXPECT_TRUE(fs::exists(package()));

    // Elevation refused: the package goes.
    installer->result = {JavaPackageOutcome::NotStarted, 0, ""};
    events = Run(installer);
    EXPECT_EQ(events.back(), Event("error", 0, "安装未启动（可能被取消或权限不足）"));
    EXPECT_FALSE(fs::exists(package()));

    // Started without a process to watch.
    installer->result = {JavaPackageOutcome::StartedUnconfirmed, 0, ""};
    installer->callAwaiting = true;
    events = Run(installer);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], Event("install", 100, "安装已启动，请确认 UAC 授权…"));
    EXPECT_EQ(events.back(), Event("done", 100, "安装已启动，若失败请查看日志：" + logText()));

    // A runtime the launcher lists itself is handed over before "done".
    installer->result = {JavaPackageOutcome::Installed, 0, "/r/bin/java"};
    installer->callAwaiting = false;
    events = Run(installer);
    EXPECT_EQ(events.back(), Event("done", 100, "安装完成 ✓"));
    EXPECT_EQ(installed_, std::vector<std::string>{"/r/bin/java"});

    // No backend client at all.
    events = Run(installer, false);
    EXPECT_EQ(events, (std::vector<std::string>{Event("resolve", 0, "正在获取下载地址…"), Event("error", 0, "云端未连接")}));
}

// The Linux installer on real archives.
class ArchiveInstall : public ::testing::Test {
protected:
    JavaPackageResult Install(const std::string& name) {
        JavaPackageJob job{package_, home_.program() / "runtime", name, home_.program() / "log" / "java-install.log"};
        return MakeJavaPackageInstaller()->Install(job, nullptr);
    }
    std::string Log() const { return ReadFile(home_.program() / "log" / "java-install.log"); }
    // Nothing but the runtime folders named below runtime/, nothing new beside them.
    void ExpectOnly(const std::vector<std::string>& runtimes) {
        const auto names = [](const fs::path& folder) {
            std::vector<std::string> found;
            for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
            std::sort(found.begin(), found.end());
            return found;
        };
        EXPECT_EQ(names(home_.program() / "runtime"), runtimes);
        EXPECT_EQ(names(home_.program()), (std::vector<std::string>{"log", "runtime"}));
        for (const std::string& name : names(home_.root())) {
            EXPECT_TRUE(name == "program" || name == "data" || name == "jdk.tar.gz") << name;
        }
        EXPECT_FALSE(fs::exists("/tmp/lumivale-escaped"));
    }

    TempHome home_;
    fs::path package_ = home_.root() / "jdk.tar.gz";
    const std::string java_ = "#!/bin/sh\necho 'openjdk version \"21.0.2\"' >&2\n";
};

TEST_F(ArchiveInstall, ARuntimeInItsOwnTopFolderIsUnpackedWithItsLinks) {
    WriteTarGz(package_, {TarEntry::Directory("./"),
                          TarEntry::File("./jdk-21.0.2/bin/java", java_, 0755),
                          TarEntry::File("./jdk-21.0.2/legal/java.base/LICENSE", "GPL", 0644),
                          TarEntry::Symlink("./jdk-21.0.2/legal/java.desktop/LICENSE", "../java.base/LICENSE"),
                          TarEntry::Hardlink("./jdk-21.0.2/lib/libjvm.so", "jdk-21.0.2/legal/java.base/LICENSE")});
    const JavaPackageResult result = Install("Java 21");
    ASSERT_EQ(result.outcome, JavaPackageOutcome::Installed) << Log();
    const fs::path runtime = home_.program() / "runtime" / "Java 21" / "jdk-21.0.2";
    EXPECT_EQ(result.javaExe, (runtime / "bin" / "java").string());
    EXPECT_NE(fs::status(runtime / "bin" / "java").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(ReadFile(runtime / "legal" / "java.desktop" / "LICENSE"), "GPL");
    EXPECT_EQ(ReadFile(runtime / "lib" / "libjvm.so"), "GPL");
    ExpectOnly({"Java 21"});

    // Installed again under the same name: the old folder is replaced.
    WriteTarGz(package_, {TarEntry::File("bin/java", java_, 0755)});
    EXPECT_EQ(Install("Java 21").javaExe, (home_.program() / "runtime" / "Java 21" / "bin" / "java").string());
    EXPECT_FALSE(fs::exists(runtime));
    ExpectOnly({"Java 21"});

    // A zip goes through the same checks.
    WriteZip(package_, {{"bin/java", java_}, {"../../escaped.txt", "out"}});
    EXPECT_EQ(Install("from zip").outcome, JavaPackageOutcome::Unpackable);
    EXPECT_NE(Log().find("拒绝目录外的条目：../../escaped.txt"), std::string::npos) << Log();
    ExpectOnly({"Java 21"});
}

TEST_F(ArchiveInstall, HostileOrBrokenPackagesWriteNothingAndLeaveNoFolder) {
    const std::vector<std::vector<TarEntry>> hostile = {
        {TarEntry::File("bin/java", java_, 0755), TarEntry::File("../../escaped.txt", "out")},
        {TarEntry::File("bin/java", java_, 0755), TarEntry::File("bin/../../../escaped.txt", "out")},
        {TarEntry::File("bin/java", java_, 0755), TarEntry::File("/tmp/lumivale-escaped", "out")},
        {TarEntry::File("bin/java", java_, 0755), TarEntry::Symlink("lib/etc", "/etc")},
        {TarEntry::File("bin/java", java_, 0755), TarEntry::Symlink("lib/up", "../../..")},
        // Each link looks harmless by name; together they lead out.
        {TarEntry::File("bin/java", java_, 0755), TarEntry::Symlink("here", "."), TarEntry::Symlink("out", "here/..")},
        {TarEntry::File("bin/java", java_, 0755), TarEntry::Hardlink("lib/h", "../../escaped.txt")},
        // Writing through a link the archive made itself.
        {TarEntry::File("bin/java", java_, 0755), TarEntry::Symlink("lib", "bin"), TarEntry::File("lib/x", "through")},
        // No java executable at all.
        {TarEntry::File("jre/lib/rt.jar", "jar")},
    };
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        WriteTarGz(package_, hostile[i]);
        EXPECT_EQ(Install("hostile").outcome, JavaPackageOutcome::Unpackable) << i << "\n" << Log();
        EXPECT_FALSE(fs::exists(home_.program() / "escaped.txt")) << i;
        ExpectOnly({});
    }

    // Random bytes, and a package cut off half way.
    std::mt19937 random(7);
    std::string noise(100000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteFile(package_, noise);
    EXPECT_EQ(Install("noise").outcome, JavaPackageOutcome::Unpackable);
    EXPECT_NE(Log().find("安装失败，已删除解压目录"), std::string::npos) << Log();
    WriteTarGz(package_, {TarEntry::File("bin/java", java_, 0755), TarEntry::File("lib/big", noise)});
    const std::string whole = ReadFile(package_);
    WriteFile(package_, whole.substr(0, whole.size() / 2));
    EXPECT_EQ(Install("cut").outcome, JavaPackageOutcome::Unpackable);
    ExpectOnly({});
}

}  // namespace
}  // namespace lumivale::test
