#include "MirrorMap.h"

#include <array>
#include <utility>

#include "Endpoints.h"
#include "Scrambled.h"

namespace lumivale {

namespace {

// Fabric's Maven, named by the libraries of its profiles; not overridable, tests serve their own.
constexpr auto kFabricMaven = Scramble("https://maven.fabricmc.net/");

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string RewriteToMirror(const std::string& url) {
    const Endpoints& endpoints = GetEndpoints();
    const std::string& mirror = endpoints.mirrorBase;
    static const std::string fabricMaven = Unscramble(kFabricMaven);
    const std::array<std::pair<const std::string*, std::string>, 7> rows{{
        {&endpoints.officialDataBase, mirror},
        {&endpoints.officialLibrariesBase, mirror + "libraries/"},
        {&endpoints.officialMavenBase, mirror + "maven/"},
        {&endpoints.officialMetaBase, mirror},
        {&endpoints.officialAssetsBase, mirror + "assets/"},
        {&endpoints.neoForgeMavenBase, mirror + "maven/"},
        {&fabricMaven, mirror + "maven/"},
    }};
    std::string rewritten = url;
    for (const auto& [official, replacement] : rows) ReplaceAll(rewritten, *official, replacement);
    return rewritten;
}

}  // namespace lumivale
