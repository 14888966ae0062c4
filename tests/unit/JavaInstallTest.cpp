// The Java catalogue and names from the network, and the Linux installer on real and hostile archives.
#include <gtest/gtest.h>

#include <algorithm>

#include "JavaInstall.h"
#include "JavaPackageInstaller.h"
#include "LaunchTestKit.h"
#include "TarWriter.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

const std::string kOut = "lumivale-escaped.txt";  // what a hostile package tries to write outside

TEST(JavaCatalogue, ItemsAreCutWholeAndNamesFromTheNetworkStayPlainFileNames) {
    EXPECT_EQ(JavaCatalogueEvent(R"({"success":true,"items":[{"name":"jdk]["},{"t":["x",["y"]]}],"n":1})"),
              R"({"type":"java:list","items":[{"name":"jdk]["},{"t":["x",["y"]]}]})");
    // No answer is the network's fault; an answer without a list is the server's.
    for (const char* answer : {R"({"success":false})", R"({"items":[{"name":"a"})", "<html>502</html>", ""}) {
        const std::string error = *answer ? kJavaListUnreadable : kJavaListUnreachable;
        EXPECT_EQ(JavaCatalogueEvent(answer), R"({"type":"java:list","items":[],"error":")" + error + "\"}") << answer;
    }
    EXPECT_EQ(JavaDownloadPercent(5, -1), 0);
    EXPECT_EQ(JavaDownloadText(400 * 1024, 5 * 1048576), "正在下载 0.3 MB / 5.0 MB");
    EXPECT_EQ(JavaDownloadText(3 * 1048576 / 2, -1), "正在下载 1.5 MB");

    const std::vector<std::pair<std::string, std::string>> packages = {
        {"java/21/OpenJDK21.tar.gz", "OpenJDK21.tar.gz"}, {"", "J_21_x_.msi"}, {"java/..", "J_21_x_.msi"},
        {"a\\..\\..\\evil", "J_21_x_.msi"}, {"k/" + std::string(255, 'n'), std::string(255, 'n')},
        {"k/" + std::string(256, 'n'), "J_21_x_.msi"}};
    for (const auto& [key, file] : packages) EXPECT_EQ(JavaPackageFileName(key, "J/21:x?", ".msi"), file) << key;
    const std::vector<std::pair<std::string, std::string>> folders = {
        {"Java 21 x64", "Java 21 x64"}, {"../jdk", ".._jdk"}, {"a\nb\\c", "a_b_c"}, {"..", "java"}, {"", "java"},
        {std::string(201, 'j'), "java"}};
    for (const auto& [name, folder] : folders) EXPECT_EQ(JavaRuntimeFolderName(name), folder) << name;
}

// The Linux installer on real archives.
class ArchiveInstall : public ::testing::Test {
protected:
    JavaPackageOutcome Install(const std::string& name, std::string* exe = nullptr) {
        const JavaPackageJob job{package_, home_.program() / "runtime", name, home_.program() / "log" / "java-install.log"};
        const JavaPackageResult result = MakeJavaPackageInstaller()->Install(job, nullptr);
        if (exe) *exe = result.javaExe;
        return result.outcome;
    }
    // Only these runtime folders, and nothing escaped anywhere.
    void ExpectOnly(const Strings& runtimes) {
        Strings found;
        for (const auto& entry : fs::directory_iterator(home_.program() / "runtime")) found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, runtimes);
        for (const fs::path& dir : {home_.program(), home_.root(), fs::path("/tmp")}) EXPECT_FALSE(fs::exists(dir / kOut)) << dir;
    }

    TempHome home_;
    fs::path package_ = home_.root() / "jdk.tar.gz";
    const std::string java_ = "#!/bin/sh\necho 'openjdk version \"21.0.2\"' >&2\n";
};

TEST_F(ArchiveInstall, ARuntimeIsUnpackedWithItsLinksAndReplacedByAReinstall) {
    WriteTarGz(package_, {TarEntry::Directory("./"), TarEntry::File("./jdk-21/bin/java", java_, 0755),
                          TarEntry::File("./jdk-21/legal/base/LICENSE", "GPL", 0644),
                          TarEntry::Symlink("./jdk-21/legal/desktop/LICENSE", "../base/LICENSE"),
                          TarEntry::Hardlink("./jdk-21/lib/libjvm.so", "jdk-21/legal/base/LICENSE")});
    std::string exe;
    ASSERT_EQ(Install("Java 21", &exe), JavaPackageOutcome::Installed);
    const fs::path runtime = home_.program() / "runtime" / "Java 21" / "jdk-21";
    EXPECT_EQ(exe, (runtime / "bin" / "java").string());
    EXPECT_NE(fs::status(exe).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(ReadFile(runtime / "legal" / "desktop" / "LICENSE"), "GPL");
    EXPECT_EQ(ReadFile(runtime / "lib" / "libjvm.so"), "GPL");

    WriteTarGz(package_, {TarEntry::File("bin/java", java_, 0755)});
    ASSERT_EQ(Install("Java 21", &exe), JavaPackageOutcome::Installed);
    EXPECT_EQ(exe, (home_.program() / "runtime" / "Java 21" / "bin" / "java").string());
    EXPECT_FALSE(fs::exists(runtime));
    ExpectOnly({"Java 21"});
}

TEST_F(ArchiveInstall, HostileOrBrokenPackagesWriteNothingAndLeaveNoFolder) {
    const auto java = TarEntry::File("bin/java", java_, 0755);
    const std::vector<std::vector<TarEntry>> hostile = {
        {java, TarEntry::File("bin/../../../" + kOut, "out")},
        {java, TarEntry::File("/tmp/" + kOut, "out")},
        {java, TarEntry::Symlink("lib/etc", "/etc")},
        {java, TarEntry::Symlink("lib/up", "../../..")},
        {java, TarEntry::Symlink("here", "."), TarEntry::Symlink("out", "here/..")},  // harmless one by one
        {java, TarEntry::Hardlink("lib/h", "../../" + kOut)},
        {java, TarEntry::Symlink("lib", "bin"), TarEntry::File("lib/x", "through")},  // through its own link
        {TarEntry::File("jre/lib/rt.jar", "jar")},                                     // no java at all
    };
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        WriteTarGz(package_, hostile[i]);
        EXPECT_EQ(Install("hostile"), JavaPackageOutcome::Unpackable) << i;
        ExpectOnly({});
    }
    WriteZip(package_, {{"bin/java", java_}, {"../../" + kOut, "out"}});
    EXPECT_EQ(Install("zip"), JavaPackageOutcome::Unpackable);
    EXPECT_NE(ReadFile(home_.program() / "log" / "java-install.log").find("拒绝目录外的条目：../../" + kOut), std::string::npos);

    // A package cut off half way.
    WriteTarGz(package_, {java, TarEntry::File("lib/big", RandomBytes(100000))});
    const std::string whole = ReadFile(package_);
    WriteFile(package_, whole.substr(0, whole.size() / 2));
    EXPECT_EQ(Install("cut"), JavaPackageOutcome::Unpackable);
    ExpectOnly({});
}

}  // namespace
}  // namespace lumivale::test
