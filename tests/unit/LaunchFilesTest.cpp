// What a launch writes beside the game: natives, the agent jar, the launch id.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "LaunchFiles.h"
#include "Paths.h"
#include "Resources.h"
#include "TempHome.h"
#include "ZipWriter.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteZip;
namespace fs = std::filesystem;

std::set<std::string> FilesBelow(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).generic_string());
    }
    return files;
}

TEST(LaunchFiles, ExtractsOnlyNativeLibrariesKeepingInnerFolders) {
    TempHome home;
    const fs::path jar = home.root() / "lwjgl-natives-linux.jar";
    WriteZip(jar, {{"META-INF/", ""},
                   {"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"},
                   {"META-INF/hidden.so", "no"},
                   {"liblwjgl.so", "lwjgl"},
                   {"linux/x64/org/lwjgl/glfw/libglfw.so", "glfw"},
                   {"OpenAL.DLL", "upper case is not ours"},
                   {"jinput-raw.dll", "dll"},
                   {"libjinput-osx.jnilib", "jnilib"},
                   {"libobjc.dylib", "dylib"},
                   {"libfoo.so.1", "versioned"},
                   {"readme.txt", "text"}});
    const fs::path natives = home.root() / "natives";
    EXPECT_EQ(extractNatives(PathUtf8(jar), PathUtf8(natives)), 5);
    EXPECT_EQ(FilesBelow(natives),
              (std::set<std::string>{"liblwjgl.so", "linux/x64/org/lwjgl/glfw/libglfw.so",
                                     "jinput-raw.dll", "libjinput-osx.jnilib", "libobjc.dylib"}));
    EXPECT_EQ(ReadFile(natives / "linux/x64/org/lwjgl/glfw/libglfw.so"), "glfw");

    // A later jar with the same file name replaces the earlier file.
    const fs::path newer = home.root() / "newer.jar";
    WriteZip(newer, {{"liblwjgl.so", "newer"}});
    extractNatives(PathUtf8(newer), PathUtf8(natives));
    EXPECT_EQ(ReadFile(natives / "liblwjgl.so"), "newer");
}

TEST(LaunchFiles, HostileEntryNamesWriteNothingOutsideTheNativesFolder) {
    TempHome home;
    const fs::path jar = home.root() / "hostile.jar";
    const fs::path outside = home.root() / "outside";
    WriteZip(jar, {{"../escaped.so", "x"},
                   {"../../escaped2.so", "x"},
                   {"inner/../../escaped3.so", "x"},
                   {PathUtf8(outside / "absolute.so"), "x"},
                   {"..\\backslash.so", "x"},
                   {"C:/drive.dll", "x"},
                   {"fine/lib.so", "ok"},
                   {"inner/../stays.so", "ok"}});
    const fs::path natives = home.root() / "game" / "natives";
    extractNatives(PathUtf8(jar), PathUtf8(natives));

    std::set<std::string> everything = FilesBelow(home.root());
    everything.erase("hostile.jar");
    EXPECT_EQ(everything,
              (std::set<std::string>{"game/natives/fine/lib.so", "game/natives/stays.so"}));
}

TEST(LaunchFiles, ANonZipJarIsSkippedAndAnEmptyAgentResourceFails) {
    TempHome home;
    const fs::path notZip = home.root() / "broken.jar";
    test::WriteFile(notZip, "this is not a zip");
    EXPECT_EQ(extractNatives(PathUtf8(notZip), PathUtf8(home.root() / "n")), 0);
    EXPECT_EQ(extractNatives(PathUtf8(home.root() / "missing.jar"), PathUtf8(home.root() / "n")), 0);

    const fs::path agent = home.root() / "authlib-injector-1.2.8.jar";
    if (GetResource(IDR_AGENT_JAR).empty()) {
        EXPECT_FALSE(writeAgentJar(IDR_AGENT_JAR, PathUtf8(agent)));
        EXPECT_FALSE(fs::exists(agent));
    } else {
        ASSERT_TRUE(writeAgentJar(IDR_AGENT_JAR, PathUtf8(agent)));
        EXPECT_EQ(fs::file_size(agent), GetResource(IDR_AGENT_JAR).size());
    }
    EXPECT_FALSE(writeAgentJar(999, PathUtf8(home.root() / "none.jar")));
}

TEST(LaunchFiles, LaunchIdsAreFreshLowerCaseUuids) {
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    const std::string first = makeLaunchId();
    EXPECT_TRUE(std::regex_match(first, uuid)) << first;
    EXPECT_NE(first, makeLaunchId());
}

}  // namespace
}  // namespace lumivale
