// Official game file addresses and their mirror forms (data and Maven: see the modpack import).
#include <gtest/gtest.h>

#include "Endpoints.h"
#include "MirrorMap.h"

namespace lumivale {
namespace {

TEST(MirrorMap, EachOfficialHostGetsItsMirrorPathEveryOccurrenceIsRewrittenAndOthersStay) {
    const Endpoints& e = GetEndpoints();
    const std::string m = e.mirrorBase;
    for (const auto& [official, mirrored] : std::vector<std::pair<std::string, std::string>>{
             {e.officialLibrariesBase + "org/a.jar?from=" + e.officialLibrariesBase, m + "libraries/org/a.jar?from=" + m + "libraries/"},
             {e.officialMetaBase + "v1/packages/1.20.1.json", m + "v1/packages/1.20.1.json"},
             {e.officialAssetsBase + "ab/abcdef", m + "assets/ab/abcdef"},
             {e.neoForgeMavenBase + "net/neoforged/neoforge/21.1.77/x.jar", m + "maven/net/neoforged/neoforge/21.1.77/x.jar"},
             {"https://maven.fabricmc.net/net/fabricmc/intermediary/1.20.1/i.jar", m + "maven/net/fabricmc/intermediary/1.20.1/i.jar"},
             {"https://example.invalid/file.jar", "https://example.invalid/file.jar"}}) {
        EXPECT_EQ(RewriteToMirror(official), mirrored);
    }
}

}  // namespace
}  // namespace lumivale
