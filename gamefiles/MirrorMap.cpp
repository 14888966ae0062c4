#include "MirrorMap.h"

#include <array>
#include <utility>

#include "Endpoints.h"

namespace lumivale {

namespace {

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
    const std::array<std::pair<const std::string*, std::string>, 5> rows{{
        {&endpoints.officialDataBase, mirror},
        {&endpoints.officialLibrariesBase, mirror + "libraries/"},
        {&endpoints.officialMavenBase, mirror + "maven/"},
        {&endpoints.officialMetaBase, mirror},
        {&endpoints.officialAssetsBase, mirror + "assets/"},
    }};
    std::string rewritten = url;
    for (const auto& [official, replacement] : rows) ReplaceAll(rewritten, *official, replacement);
    return rewritten;
}

}  // namespace lumivale
