// Version and loader lists as their hosts publish them, and what an installer jar says it will write.
#include <gtest/gtest.h>

#include <filesystem>

#include "ForgeInstall.h"
#include "LoaderVersions.h"
#include "TempHome.h"
#include "VersionList.h"
#include "ZipWriter.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string Loaders(const std::string& name) { return ReadFile(fs::path(LUMIVALE_TEST_DATA) / "loaders" / name); }

TEST(VersionSources, TheManifestKeepsItsOrderAndFreeFormIdsAndRefusesWhatIsNoManifest) {
    GameVersionList list;
    ASSERT_TRUE(ParseGameVersionList(Loaders("version_manifest_v2.json"), list));
    EXPECT_EQ(list.latestRelease + " " + list.latestSnapshot, "26.2 26.3-pre-1");
    Strings ids;
    for (const GameVersionEntry& entry : list.versions) ids.push_back(entry.id + ":" + entry.type);
    EXPECT_EQ(ids, (Strings{"26.3-pre-1:snapshot", "26.2:release", "26.2-rc-2:snapshot", "26w14a:snapshot", "26.1:release",
                            "c0.0.13a:old_alpha", "rd-132211:old_alpha"}));
    const GameVersionEntry* release = FindGameVersion(list, "26.2");
    ASSERT_NE(release, nullptr);
    EXPECT_EQ(release->sha1, "ef815ab76bce3f1a4c2d7fe712527304923bbe3a");
    EXPECT_EQ(release->url, "https://piston-meta.mojang.com/v1/packages/ef815ab76bce3f1a4c2d7fe712527304923bbe3a/26.2.json");
    EXPECT_EQ(FindGameVersion(list, "1.20.1"), nullptr);

    // An id that could not be a folder name is left out; text that is no manifest is refused.
    ASSERT_TRUE(ParseGameVersionList(R"({"versions":[{"id":"../x","url":"u"},{"id":"ok","url":"u"},{"id":"no url"}]})", list));
    ASSERT_EQ(list.versions.size(), 1u);
    EXPECT_EQ(list.versions[0].id, "ok");
    for (const char* text : {"", "[]", R"({"versions":{}})", "<html>"}) EXPECT_FALSE(ParseGameVersionList(text, list)) << text;
}

TEST(VersionSources, EachLoaderListReadsNewestFirst) {
    const struct {
        const char* what;
        Strings read;
        Strings expected;
    } cases[] = {
        {"Quilt", ParseFabricStyleLoaders(Loaders("quilt-v3-versions-loader-1.18.2.json")), {"0.17.10"}},
        {"the mirror's Forge builds carry their branch", ParseMirrorForgeList(Loaders("bmclapi-forge-minecraft-1.7.10.json")),
         {"10.13.4.1614-1.7.10", "10.13.0.1151"}},
        {"Forge's Maven: only the whole game part matches, numbers sort as numbers",
         ForgeVersionsOfGame(ParseMavenVersions(Loaders("forge-maven-metadata.xml")), "1.21.4"), {"54.1.18", "54.1.6"}},
        {"old Forge coordinates keep their branch",
         ForgeVersionsOfGame(ParseMavenVersions(Loaders("forge-maven-metadata.xml")), "1.7.10"),
         {"10.13.4.1614-1.7.10", "10.13.4.1558-1.7.10", "10.13.0.1150"}},
        {"1.20.10 is not 1.20.1", ForgeVersionsOfGame({"1.20.10-1.0", "1.20.1-47.2.0", "1.20.1"}, "1.20.1"), {"47.2.0"}},
        {"the mirror's NeoForge list", ParseMirrorNeoForgeList(Loaders("bmclapi-neoforge-list-1.21.1.json")), {"21.1.1"}},
        {"NeoForge's Maven", ParseMavenVersions(Loaders("neoforge-maven-metadata.xml")), {"21.1.76", "21.1.77", "21.2.0-beta"}},
        {"rows without a version, and builds whose files have no installer, are left out",
         ParseMirrorForgeList(R"([{"version":"1.0","files":[{"category":"universal","format":"jar"}]},{"build":3},)"
                              R"({"version":"2.0","branch":null}])"),
         {"2.0"}},
        {"text that is not a list", ParseFabricStyleLoaders("<html>"), {}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.read, c.expected) << c.what;
}

TEST(VersionSources, NeoForgeVersionsNameTheirGame) {
    for (const auto& [version, game] : std::vector<std::pair<std::string, std::string>>{
             {"21.1.77", "1.21.1"}, {"20.4.159", "1.20.4"}, {"21.0.3-beta", "1.21"}, {"20.2.3-beta", "1.20.2"},
             {"26.1.0.8", "26.1"}, {"26.1.1.3", "26.1.1"}, {"26.1.0.9+pre-1", "26.1-pre-1"},
             {"0.25w14craftmine.5-beta", "25w14craftmine"}, {"47.1.82", "1.20.1"}, {"1.20.1-47.1.106", "1.20.1"},
             {"nonsense", ""}, {"99999999999999999999.1.2", "99999999999999999999.1"}}) {
        EXPECT_EQ(NeoForgeGameOf(version), game) << version;
    }
}

TEST(VersionSources, InstallerJarsNameTheVersionTheyWrite) {
    TempHome home;
    const fs::path jar = home.root() / "installer.jar";
    for (const auto& [entries, id] : std::vector<std::pair<std::vector<std::pair<std::string, std::string>>, std::string>>{
             {{{"version.json", R"({"id":"1.20.1-forge-47.2.0"})"}, {"install_profile.json", R"({"version":"other"})"}}, "1.20.1-forge-47.2.0"},
             {{{"install_profile.json", R"({"version":"neoforge-21.1.77"})"}}, "neoforge-21.1.77"},
             {{{"install_profile.json", R"({"install":{"target":"1.7.10-Forge10.13.4.1614-1.7.10"},"versionInfo":{"id":"x"}})"}},
              "1.7.10-Forge10.13.4.1614-1.7.10"},
             {{{"install_profile.json", R"({"versionInfo":{"id":"old"}})"}}, "old"},
             {{{"version.json", R"({"id":"../escape"})"}}, ""},
             {{{"readme.txt", "no profile"}}, ""}}) {
        WriteZip(jar, entries);
        EXPECT_EQ(InstallerVersionId(jar.string()), id) << entries.front().second;
    }
}

}  // namespace
}  // namespace lumivale::test
