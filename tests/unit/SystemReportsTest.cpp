// The text of the "sys:memory", "sys:java", "sys:cores" and "sys:config" events.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "Settings.h"
#include "SystemReports.h"

namespace lumivale {
namespace {

constexpr std::uint64_t kGiB = 1ULL << 30;

std::string Memory(std::int64_t total, std::int64_t recommended) {
    return R"({"type":"sys:memory","totalGB":)" + std::to_string(total) + R"(,"recommendedG":)" +
           std::to_string(recommended) + "}";
}

TEST(SystemReports, MemoryIsRoundedAndHalvedWithinTwoToSixteen) {
    EXPECT_EQ(MemoryEvent(kGiB * 15 / 2), Memory(8, 4));  // 7.5 GiB
    EXPECT_EQ(MemoryEvent(3 * kGiB), Memory(3, 2));
    EXPECT_EQ(MemoryEvent(64 * kGiB), Memory(64, 16));
    EXPECT_EQ(MemoryEvent(0), Memory(0, 2));
    EXPECT_EQ(MemoryEvent(40 * kGiB), Memory(40, 16));
    EXPECT_EQ(MemoryEvent(10 * kGiB), Memory(10, 5));
    EXPECT_EQ(MemoryEvent(33 * kGiB), Memory(33, 16));
    // Half a GiB rounds up, just below it rounds down.
    EXPECT_EQ(MemoryEvent(kGiB * 5 / 2), Memory(3, 2));
    EXPECT_EQ(MemoryEvent(kGiB * 5 / 2 - 1), Memory(2, 2));
    EXPECT_EQ(MemoryEvent(kGiB * 31 / 2 - 1), Memory(15, 7));
}

TEST(SystemReports, JavaListEscapesQuotesAndBackslashes) {
    EXPECT_EQ(JavaListEvent({}), R"({"type":"sys:java","list":[]})");
    const std::vector<JavaInstall> javas = {
        {R"(java version "17.0.2")", R"(C:\Program Files\Java\bin\java.exe)", false},
        {"\xE4\xB8\xAD 8", "/opt/j8/bin/java", true},
    };
    const std::string event = JavaListEvent(javas);
    EXPECT_EQ(event,
              R"({"type":"sys:java","list":[)"
              R"({"name":"java version \"17.0.2\"","value":"C:\\Program Files\\Java\\bin\\java.exe"},)"
              "{\"name\":\"\xE4\xB8\xAD 8\",\"value\":\"/opt/j8/bin/java\"}]}");
    const auto parsed = nlohmann::json::parse(event);
    EXPECT_EQ(parsed["list"][0]["name"], javas[0].name);
    EXPECT_EQ(parsed["list"][0]["value"], javas[0].exe);
}

TEST(SystemReports, CoreListNamesFolderAndRealVersion) {
    EXPECT_EQ(CoreListEvent({}), R"({"type":"sys:cores","list":[]})");
    const std::vector<CoreEntry> cores = {
        {"Fabric \"1.20\"", R"(D:\mc\versions\Fabric "1.20")", "D:\\mc\\x.jar", "1.20.1"},
        {"1.8.9", "/mc/versions/1.8.9", "/mc/versions/1.8.9/1.8.9.jar", "1.8.9"},
    };
    EXPECT_EQ(CoreListEvent(cores),
              R"({"type":"sys:cores","list":[)"
              R"({"name":"Fabric \"1.20\"","value":"D:\\mc\\versions\\Fabric \"1.20\"","real":"1.20.1"},)"
              R"({"name":"1.8.9","value":"/mc/versions/1.8.9","real":"1.8.9"}]})");
}

TEST(SystemReports, ConfigEscapesLineBreaks) {
    Settings settings;
    settings.processPriority = "high";
    settings.gcPreset = "g1_optimized";
    settings.customJvmArgs = "-Xss2M\n-Dp=\"C:\\a\"\t\r\x01";
    settings.serverAddress = "mc.example.org";
    settings.serverPort = -5;
    const std::string event = ConfigEvent(settings);
    EXPECT_EQ(event,
              R"({"type":"sys:config","process_priority":"high","gc_preset":"g1_optimized",)"
              R"("custom_jvm_args":"-Xss2M\n-Dp=\"C:\\a\"\t\r?","server_address":"mc.example.org",)"
              R"("server_port":-5})");
    EXPECT_EQ(nlohmann::json::parse(event)["custom_jvm_args"], "-Xss2M\n-Dp=\"C:\\a\"\t\r?");
}

}  // namespace
}  // namespace lumivale
