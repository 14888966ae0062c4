// The crash analyser on real log excerpts, a 200 MB log within its caps, the rules file, templates, which logs count.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "CrashAnalysis.h"
#include "TempHome.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using test::TempHome;
using test::WriteFile;
using Ids = std::vector<std::string>;

std::string Sample(const std::string& name) { return (fs::path(LUMIVALE_TEST_DATA) / "crashes" / name).string(); }

CrashAnalysis Analyse(const std::vector<CrashLog>& logs, std::optional<int> exitCode = std::nullopt) {
    return AnalyseCrash(BuiltInCrashRules(), logs, exitCode);
}

Ids IdsOf(const CrashAnalysis& analysis) {
    Ids ids;
    for (const CrashCause& cause : analysis.causes) ids.push_back(cause.id);
    return ids;
}

struct SampleCase {
    const char* file;
    CrashLogKind kind;  // the log the excerpt was taken from
    Ids causes;         // every cause, in order
    const char* mod;    // the mod the first cause names
    const char* advice; // a captured value the first cause's advice shows
    bool startFailed;
};

TEST(CrashAnalysis, EachRealSampleGivesItsCauseFirst) {
    using K = CrashLogKind;
    const std::vector<SampleCase> cases = {
        {"authlib-injector-fetch-metadata.txt", K::Output, {"authlib_injector_metadata"}, "", "Connection timed out", false},
        {"fabric-entrypoint-crash.txt", K::Latest, {"fabric_entrypoint_crashed"}, "bfapi", "main 阶段", false},
        {"fabric-missing-dependency.txt", K::Latest, {"fabric_missing_dependency", "fabric_wrong_dependency_version"}, "indium",
         "fabric-renderer-api-v1", false},
        {"fabric-wrong-minecraft-version.txt", K::Latest, {"mod_wrong_minecraft_version"}, "fabric-api", "（1.16.5）", false},
        {"forge-duplicate-mods.txt", K::Latest, {"forge_duplicate"}, "rubidium", "embeddium-0.3.31+mc1.20.1.jar", false},
        {"forge-legacy-missing-mods.txt", K::Latest, {"forge_legacy_missing_mods"}, "helicopterpack", "mts@[19.0.0,)", false},
        {"forge-missing-dependency-modern.txt", K::Latest, {"forge_missing_dependency", "mod_wrong_minecraft_version"},
         "chiselsandbits_tfc", "当前是 [MISSING]", false},
        {"forge-module-split-package.txt", K::Output, {"jpms_split_package"}, "roughlyenoughitems", "mezz.jei.api.runtime", false},
        {"glfw-65542-no-opengl.txt", K::CrashReport, {"glfw_no_opengl"}, "", "", false},
        {"heap-reserve-32bit.txt", K::Output, {"heap_too_large"}, "", "2097152 KB", true},
        {"hs-err-intel-driver.txt", K::HsErr, {"gpu_driver_native_crash"}, "", "ig7icd64.dll", false},
        {"java-too-new-launchwrapper.txt", K::Output, {"java_too_new_launchwrapper"}, "", "", false},
        {"java-too-old-classfile-65.txt", K::Latest, {"java_too_old"}, "", "需要 Java 21，而当前是 Java 17", false},
        {"java-too-old-main-class-60.txt", K::Output, {"java_too_old"}, "", "net/minecraft/client/main/Main 需要 Java 16", true},
        {"jvm-unrecognized-option.txt", K::Output, {"jvm_bad_option"}, "", "「UseConcMarkSweepGC」", true},
        {"mixin-failure.txt", K::Latest, {"mixin_failure"}, "expandability", "「expandability」", false},
        {"neoforge-mod-loading-issue-crash-report.txt", K::CrashReport, {"forge_missing_dependency", "forge_mod_crashed"},
         "yungsmenutweaks", "需要「yungsapi」", false},
        {"non-ascii-path-natives.txt", K::Latest, {"non_ascii_path"}, "", "", false},
        {"out-of-memory.txt", K::CrashReport, {"out_of_memory"}, "", "（Java heap space）", false},
        {"pixel-format-not-accelerated.txt", K::Latest, {"pixel_format"}, "", "", false},
    };
    for (const SampleCase& c : cases) {
        SCOPED_TRACE(c.file);
        const CrashAnalysis analysis = Analyse({{Sample(c.file), c.kind}});
        ASSERT_EQ(IdsOf(analysis), c.causes);
        const CrashCause& first = analysis.causes.front();
        EXPECT_EQ(first.mod, c.mod);
        EXPECT_NE(first.advice.find(c.advice), std::string::npos) << first.advice;
        EXPECT_EQ(first.advice.find_first_of("{}"), std::string::npos) << first.advice;
        EXPECT_FALSE(first.evidence.empty());
        EXPECT_EQ(analysis.startFailed, c.startFailed);
    }
}

TEST(CrashAnalysis, CleanStartUpLogsGiveNoCause) {
    for (const char* file : {"clean-fabric-1-19-2.log", "clean-neoforge-1-21-3.log"}) {
        for (const CrashLogKind kind : {CrashLogKind::Latest, CrashLogKind::Output}) {
            const CrashAnalysis analysis = Analyse({{Sample(file), kind}}, 0);
            EXPECT_EQ(IdsOf(analysis), Ids{}) << file;
            EXPECT_FALSE(analysis.startFailed);
        }
    }
}

TEST(CrashAnalysis, ReadsLogsCrashReportFirstAndMatchesTheExitCodeAndTheStack) {
    TempHome home;
    const fs::path report = home.root() / "crash.txt", output = home.root() / "output.log";
    // Invalid UTF-8 in the evidence, a stack frame naming a mod, and the launcher's header to skip.
    WriteFile(report, "Description: Unexpected error\n\tat net.minecraft.X.y(X.java) ~[?:?] {re:mixin,pl:mixin:APP:create.mixins.json:Fix,pl:mixin:A}\n"
                      "java.lang.OutOfMemoryError: Metaspace \xFF\xFE\n");
    const std::string header = "[Lumivale] Error: Could not create the Java Virtual Machine.\n";
    WriteFile(output, header + "Exception in thread \"main\" java.lang.OutOfMemoryError: Java heap space\n");
    const CrashAnalysis analysis = Analyse({{output.string(), CrashLogKind::Output, header.size()},
                                            {report.string(), CrashLogKind::CrashReport}}, -805306369);
    EXPECT_EQ(IdsOf(analysis), (Ids{"out_of_memory", "exit_code_805306369"}));
    EXPECT_EQ(analysis.files, (Ids{report.string(), output.string()}));
    EXPECT_NE(analysis.causes[0].advice.find("（Metaspace）"), std::string::npos) << analysis.causes[0].advice;
    EXPECT_EQ(analysis.stackMod, "create");
    EXPECT_FALSE(analysis.startFailed) << "the header is the launcher's, not the game's";
    const auto event = nlohmann::json::parse(CrashEvent(analysis, 1));
    EXPECT_EQ(event["type"], "game:crash");
    EXPECT_EQ(event["stage"], "running");
    EXPECT_EQ(event["mod"], "create");
    EXPECT_EQ(event["causes"][0]["confidence"], "high");
    EXPECT_EQ(event["causes"][0]["evidence"], "java.lang.OutOfMemoryError: Metaspace \xEF\xBF\xBD\xEF\xBF\xBD");
    // Nothing to read at all: no cause, no file, still an event.
    const auto empty = nlohmann::json::parse(CrashEvent(Analyse({{(home.root() / "gone.log").string()}}), 1));
    EXPECT_EQ(empty["causes"].size(), 0u);
    EXPECT_EQ(empty["files"].size(), 0u);
}

TEST(CrashAnalysis, TheReportsSuspectedModCountsOnlyWhenItNamesOne) {
    TempHome home;
    const std::vector<std::pair<std::string, std::string>> cases = {  // crash report, the mod blamed ("": no cause)
        {"Suspected Mods: NONE\n\tCreate (create), Version: 0.5.1\n", ""},
        {"\tJEI (jei)\nSuspected Mods: Unknown\n", ""},
        {"Suspected Mod: \n\tCreate (create), Version: 0.5.1\n\t\tIssue tracker URL: x\n", "create"},
        {"Suspected Mods: Oculus (oculus)\n\n\n\n\tJEI (jei)\n", "Oculus (oculus)"},
    };
    for (const auto& [text, mod] : cases) {
        WriteFile(home.root() / "crash.txt", text);
        const CrashAnalysis analysis = Analyse({{(home.root() / "crash.txt").string(), CrashLogKind::CrashReport}});
        EXPECT_EQ(IdsOf(analysis), mod.empty() ? Ids{} : Ids{"suspected_mods"}) << text;
        if (!mod.empty() && !analysis.causes.empty()) {
            EXPECT_EQ(analysis.causes[0].mod, mod) << text;
        }
    }
}

TEST(CrashAnalysis, A200MegabyteLogIsReadWithinItsCapsLineByLine) {
    TempHome home;
    const fs::path log = home.root() / "latest.log";
    {
        std::ofstream out(log, std::ios::binary);
        out << "[main/INFO]: start\n" << std::string(3u << 20, 'x') << " GLFW error 65542\n";
    }
    fs::resize_file(log, 100u << 20);  // a hole: 97 MB of zero bytes without a line end
    {
        std::ofstream out(log, std::ios::binary | std::ios::app);
        out << "Pixel format not accelerated\n";  // in the middle: never read
    }
    fs::resize_file(log, 200u << 20);
    {
        std::ofstream out(log, std::ios::binary | std::ios::app);
        out << "\njava.lang.OutOfMemoryError: Java heap space\n";
    }
    const CrashAnalysis analysis = Analyse({{log.string(), CrashLogKind::Latest}});
    EXPECT_EQ(IdsOf(analysis), Ids{"out_of_memory"}) << "a match past the line cap or between head and tail is not seen";
    EXPECT_LE(analysis.bytesRead, kCrashHeadBytes + kCrashTailBytes);
    EXPECT_EQ(analysis.longestLine, kCrashLineBytes) << "the long line was cut, not kept";
}

TEST(CrashAnalysis, OnlyTheLogsWrittenSinceTheLaunchCount) {
    TempHome home;
    const fs::path game = home.root() / "game";
    const auto write = [&](const fs::path& relative, std::int64_t ageSeconds) {
        WriteFile(game / relative, "x");
        fs::last_write_time(game / relative, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
    };
    write("crash-reports/crash-old-client.txt", 3600);
    write("crash-reports/crash-new-client.txt", 0);
    write("crash-reports/crash-newer-client.txt", -5);
    write("crash-reports/notes.txt", 0);
    write("hs_err_pid42.log", 0);
    write("hs_err_pid7.log", 3600);
    write("logs/latest.log", 3600);
    const auto since = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() - 60;
    std::vector<std::string> found;
    for (const CrashLog& log : FindCrashLogs(game.string(), since, {(home.root() / "out.log").string(), CrashLogKind::Output, 9})) {
        found.push_back(fs::path(log.path).lexically_relative(game).generic_string() + ":" + std::string(CrashLogKindName(log.kind)));
    }
    EXPECT_EQ(found, (Ids{"crash-reports/crash-newer-client.txt:crash", "hs_err_pid42.log:hs_err", "../out.log:output"}));
}

TEST(CrashRules, TheBuiltInRulesParseAndBrokenFilesAreRefusedWithTheReason) {
    EXPECT_EQ(BuiltInCrashRules().rules.size(), 58u);
    const auto rule = [](const std::string& members) {
        return R"({"rules":[{"id":"a","files":["output"],"confidence":"high","title":"t","advice":"x",)" + members + "}]}";
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{", "not a JSON object"},
        {R"({"rules":[]})", ""},
        {rule(R"("when":[{"find":"a"}]},{"id":"a","files":["output"],"confidence":"low","title":"t","advice":"x","when":[{"find":"b"}])"),
         "used twice"},
        {R"({"rules":[{"id":"a","files":["stdout"],"confidence":"high","title":"t","advice":"x","when":[{"find":"a"}]}]})", "unknown file"},
        {rule(R"j("when":[{"find":"a","regex":"(a"}])j"), "does not compile"},
        {rule(R"j("when":[{"find":"a","regex":"(a)","groups":{"v":2}}])j"), "not a group"},
        {rule(R"("when":[{"find":""}])"), "\"find\" must be a non-empty text"},
        {rule(R"("mod":"{v}","when":[{"find":"a"}])"), "names {v}"},
        {rule(R"("droppedBy":["b"],"when":[{"find":"a"}])"), "unknown rule b"},
        {rule(R"("when":[{"find":"a"}],"allOf":[{"find":"b"}])"), "either"},
    };
    for (const auto& [text, reason] : cases) {
        std::string error;
        const auto parsed = ParseCrashRules(text, error);
        EXPECT_EQ(parsed.has_value(), reason.empty()) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << " -> " << error;
    }
}

TEST(CrashRules, TemplatesFillValuesAndDropSectionsWithoutThem) {
    const std::map<std::string, std::string> values{{"mod", "create"}, {"need", "65"}, {"odd", "12"}, {"empty", ""}};
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"模组「{mod}」", "模组「create」"},
        {"A[[ {missing}]]B[[ {mod}]]", "AB create"},
        {"{missing|empty|mod}", "create"},
        {"Java {java:need}[[ or {java:odd}]]", "Java 21"},
        {"[[unclosed {mod}", "[[unclosed create"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(RenderCrashTemplate(text, values), expected) << text;
}

}  // namespace
}  // namespace lumivale
