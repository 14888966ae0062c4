// Checks before a launch: warnings, a Java executable's word size, the Java a core needs.
#include <gtest/gtest.h>

#include <filesystem>

#include "LaunchChecks.h"
#include "TempHome.h"
#include "TestJava.h"
#include "ZipWriter.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using test::TempHome;
using test::WriteFile;

TEST(LaunchChecks, WarnsAboutAnOldJavaAndMemoryTheMachineOrA32BitJavaCannotGive) {
    constexpr std::uint64_t k8G = 8ULL << 30;
    struct Case {
        LaunchFacts facts;
        std::vector<std::string> mentions;  // one text per expected warning
    };
    const std::vector<Case> cases = {
        {{17, 64, 21, 4096, k8G}, {"比这个版本需要的 Java 21 旧"}},
        {{21, 64, 21, 4096, k8G}, {}},
        {{0, 0, 21, 4096, 0}, {}},  // what is unknown is not guessed
        {{17, 64, 17, 16384, k8G}, {"超过了这台电脑的内存（8192 MB）"}},
        {{8, 32, 8, 2048, k8G}, {"32 位 Java"}},
        {{8, 32, 8, 1024, k8G}, {}},
        {{8, 32, 17, 9000, k8G}, {"Java 17", "8192 MB", "32 位"}},
    };
    for (const Case& c : cases) {
        const auto warnings = PreLaunchWarnings(c.facts);
        ASSERT_EQ(warnings.size(), c.mentions.size()) << c.facts.memoryMb;
        for (std::size_t i = 0; i < warnings.size(); ++i) EXPECT_NE(warnings[i].find(c.mentions[i]), std::string::npos) << warnings[i];
    }
}

TEST(LaunchChecks, ReadsTheWordSizeOfElfAndPeExecutables) {
    TempHome home;
    const auto pe = [](std::uint16_t magic) {
        std::string bytes(0x200, '\0');
        bytes.replace(0, 2, "MZ");
        bytes[0x3C] = 0x40;
        bytes.replace(0x40, 4, std::string("PE\0\0", 4));
        bytes[0x40 + 24] = static_cast<char>(magic & 0xFF);
        bytes[0x40 + 25] = static_cast<char>(magic >> 8);
        return bytes;
    };
    const std::vector<std::pair<std::string, int>> cases = {
        {std::string("\x7F" "ELF\x01", 5) + std::string(60, '\0'), 32},
        {std::string("\x7F" "ELF\x02", 5) + std::string(60, '\0'), 64},
        {pe(0x10B), 32},
        {pe(0x20B), 64},
        {pe(0x999), 0},
        {"#!/bin/sh\nexec java \"$@\"\n", 0},
        {"MZ", 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fs::path file = home.root() / ("java" + std::to_string(i));
        WriteFile(file, cases[i].first);
        EXPECT_EQ(ExecutableBits(file.string()), cases[i].second) << i;
    }
    EXPECT_EQ(ExecutableBits((home.root() / "none").string()), 0);
    if (test::HasTestJdk()) {
        EXPECT_EQ(ExecutableBits(std::string(test::kTestJdk) + "/bin/java"), 64);
    }
}

TEST(LaunchChecks, TheJavaACoreNeedsComesFromItsJsonOrItsMainClass) {
    TempHome home;
    const fs::path root = home.root() / "game";
    const auto version = [&](const std::string& id, const std::string& json) { WriteFile(root / "versions" / id / (id + ".json"), json); };
    const std::string class65 = std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x41", 8) + "rest";
    test::WriteZip(root / "core.jar", {{"net/minecraft/client/main/Main.class", class65}});
    version("json21", R"({"javaVersion":{"component":"java-runtime-delta","majorVersion":21},"mainClass":"net.minecraft.client.main.Main"})");
    version("parent", R"({"javaVersion":{"majorVersion":17}})");
    version("child", R"({"inheritsFrom":"parent","mainClass":"x.Y"})");
    version("classonly", R"({"mainClass":"net.minecraft.client.main.Main"})");
    version("other", R"({"mainClass":"not.In.Jar"})");
    const std::string jar = (root / "core.jar").string();
    EXPECT_EQ(RequiredJavaOfCore(root.string(), "json21", jar), 21);
    EXPECT_EQ(RequiredJavaOfCore(root.string(), "child", jar), 17);
    EXPECT_EQ(RequiredJavaOfCore(root.string(), "classonly", jar), 21);
    EXPECT_EQ(RequiredJavaOfCore(root.string(), "other", jar), 0);
    EXPECT_EQ(RequiredJavaOfCore(root.string(), "missing", jar), 0);
    EXPECT_EQ(JavaOfClassFile(std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x34", 8)), 8);
    EXPECT_EQ(JavaOfClassFile("not a class"), 0);
}

}  // namespace
}  // namespace lumivale
