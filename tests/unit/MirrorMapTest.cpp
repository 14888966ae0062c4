// Official game file addresses and their mirror forms.
#include <gtest/gtest.h>

#include "Endpoints.h"
#include "MirrorMap.h"

namespace lumivale {
namespace {

TEST(MirrorMap, EachOfficialHostGetsItsMirrorPath) {
    const Endpoints& e = GetEndpoints();
    const std::string m = e.mirrorBase;
    EXPECT_EQ(RewriteToMirror(e.officialDataBase + "v1/objects/abc/client.jar"), m + "v1/objects/abc/client.jar");
    EXPECT_EQ(RewriteToMirror(e.officialLibrariesBase + "org/lwjgl/lwjgl/3.3.1/lwjgl-3.3.1.jar"),
              m + "libraries/org/lwjgl/lwjgl/3.3.1/lwjgl-3.3.1.jar");
    EXPECT_EQ(RewriteToMirror(e.officialMavenBase + "net/minecraftforge/forge/x.jar"),
              m + "maven/net/minecraftforge/forge/x.jar");
    EXPECT_EQ(RewriteToMirror(e.officialMetaBase + "v1/packages/1.20.1.json"), m + "v1/packages/1.20.1.json");
    EXPECT_EQ(RewriteToMirror(e.officialAssetsBase + "ab/abcdef"), m + "assets/ab/abcdef");
}

TEST(MirrorMap, UnknownMirroredAndOtherCaseAddressesStayAndEveryOccurrenceIsRewritten) {
    const Endpoints& e = GetEndpoints();
    const std::string m = e.mirrorBase;
    EXPECT_EQ(RewriteToMirror("https://example.invalid/file.jar"), "https://example.invalid/file.jar");
    EXPECT_EQ(RewriteToMirror(m + "libraries/a.jar"), m + "libraries/a.jar");
    std::string shouted = e.officialLibrariesBase;
    for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(RewriteToMirror(shouted + "a.jar"), shouted + "a.jar");
    EXPECT_EQ(RewriteToMirror(e.officialLibrariesBase + "a.jar?from=" + e.officialLibrariesBase + "b"),
              m + "libraries/a.jar?from=" + m + "libraries/b");
}

}  // namespace
}  // namespace lumivale
