// Natives extraction: only native libraries, inner folders kept, nothing outside the folder.
#include <gtest/gtest.h>

#include <set>

#include "LaunchFiles.h"
#include "LaunchTestKit.h"

namespace lumivale::test {
namespace {

TEST(LaunchFiles, OnlyNativeLibrariesAreExtractedAndHostileNamesWriteNothingOutside) {
    TempHome home;
    const fs::path jar = home.root() / "natives.jar";
    WriteZip(jar, {{"META-INF/hidden.so", "no"}, {"lib.so", "so"}, {"x64/glfw.dll", "dll"}, {"a.jnilib", "j"},
                   {"b.dylib", "d"}, {"UPPER.DLL", "no"}, {"libfoo.so.1", "no"}, {"readme.txt", "no"},
                   {"../escaped.so", "x"}, {"inner/../../escaped2.so", "x"}, {PathUtf8(home.root() / "abs.so"), "x"},
                   {"..\\backslash.so", "x"}, {"C:/drive.dll", "x"}, {"inner/../stays.so", "ok"}});
    const fs::path natives = home.root() / "game" / "natives";
    EXPECT_EQ(extractNatives(PathUtf8(jar), PathUtf8(natives)), 5);
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(home.root())) {
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), home.root()).generic_string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"natives.jar", "game/natives/lib.so", "game/natives/x64/glfw.dll",
                                            "game/natives/a.jnilib", "game/natives/b.dylib", "game/natives/stays.so"}));

    // A later jar replaces a file of the same name; a jar that is not a zip writes nothing.
    WriteZip(jar, {{"lib.so", "newer"}});
    extractNatives(PathUtf8(jar), PathUtf8(natives));
    EXPECT_EQ(ReadFile(natives / "lib.so"), "newer");
    WriteFile(jar, "not a zip");
    EXPECT_EQ(extractNatives(PathUtf8(jar), PathUtf8(natives)), 0);
}

}  // namespace
}  // namespace lumivale::test
