#include "Endpoints.h"

#include "Paths.h"
#include "Scrambled.h"

namespace lumivale {

namespace {

constexpr auto kLittleSkin = Scramble("https://littleskin.cn");
constexpr auto kMirror = Scramble("https://bmclapi2.bangbang93.com/");
constexpr auto kOfficialData = Scramble("https://piston-data.mojang.com/");
constexpr auto kOfficialLibraries = Scramble("https://libraries.minecraft.net/");
constexpr auto kOfficialMaven = Scramble("https://maven.minecraftforge.net/");
constexpr auto kOfficialMeta = Scramble("https://piston-meta.mojang.com/");
constexpr auto kOfficialAssets = Scramble("https://resources.download.minecraft.net/");
constexpr auto kCurseForgeApi = Scramble("https://api.curseforge.com");
constexpr auto kAuthlibInjector = Scramble("https://authlib-injector.yushi.moe/");
constexpr auto kFabricMeta = Scramble("https://meta.fabricmc.net/");
constexpr auto kQuiltMeta = Scramble("https://meta.quiltmc.org/");
constexpr auto kNeoForgeMaven = Scramble("https://maven.neoforged.net/releases/");
// A placeholder: operators run their own backend and set [cloud] server_url.
constexpr auto kBackend = Scramble("https://cloud.lumivale.invalid");

std::string WithTrailingSlash(std::string base) {
    if (base.empty() || base.back() != '/') base += '/';
    return base;
}

std::string WithoutTrailingSlash(std::string base) {
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

}  // namespace

Endpoints LoadEndpoints(const EnvironmentLookup& lookup) {
    auto pick = [&](const char* variable, std::string builtIn) {
        return lookup(variable).value_or(std::move(builtIn));
    };
    Endpoints endpoints;
    endpoints.littleSkinBase =
        WithoutTrailingSlash(pick("LUMIVALE_LITTLESKIN_BASE", Unscramble(kLittleSkin)));
    endpoints.mirrorBase = WithTrailingSlash(pick("LUMIVALE_MIRROR_BASE", Unscramble(kMirror)));
    endpoints.officialDataBase =
        WithTrailingSlash(pick("LUMIVALE_OFFICIAL_DATA_BASE", Unscramble(kOfficialData)));
    endpoints.officialLibrariesBase =
        WithTrailingSlash(pick("LUMIVALE_OFFICIAL_LIBRARIES_BASE", Unscramble(kOfficialLibraries)));
    endpoints.officialMavenBase =
        WithTrailingSlash(pick("LUMIVALE_OFFICIAL_MAVEN_BASE", Unscramble(kOfficialMaven)));
    endpoints.officialMetaBase =
        WithTrailingSlash(pick("LUMIVALE_OFFICIAL_META_BASE", Unscramble(kOfficialMeta)));
    endpoints.officialAssetsBase =
        WithTrailingSlash(pick("LUMIVALE_OFFICIAL_ASSETS_BASE", Unscramble(kOfficialAssets)));
    endpoints.curseForgeApiBase =
        WithoutTrailingSlash(pick("LUMIVALE_CURSEFORGE_API_BASE", Unscramble(kCurseForgeApi)));
    endpoints.authlibInjectorBase =
        WithTrailingSlash(pick("LUMIVALE_AUTHLIB_INJECTOR_BASE", Unscramble(kAuthlibInjector)));
    endpoints.fabricMetaBase =
        WithTrailingSlash(pick("LUMIVALE_FABRIC_META_BASE", Unscramble(kFabricMeta)));
    endpoints.quiltMetaBase =
        WithTrailingSlash(pick("LUMIVALE_QUILT_META_BASE", Unscramble(kQuiltMeta)));
    endpoints.neoForgeMavenBase =
        WithTrailingSlash(pick("LUMIVALE_NEOFORGE_MAVEN_BASE", Unscramble(kNeoForgeMaven)));
    if (auto backend = lookup("LUMIVALE_BACKEND_BASE")) {
        endpoints.backendBase = WithoutTrailingSlash(*backend);
    }
    return endpoints;
}

const Endpoints& GetEndpoints() {
    static const Endpoints endpoints = LoadEndpoints(EnvironmentValue);
    return endpoints;
}

std::string BackendBase(const Endpoints& endpoints, const std::string& serverUrl) {
    if (endpoints.backendBase) return *endpoints.backendBase;
    if (!serverUrl.empty()) return serverUrl;
    return Unscramble(kBackend);
}

}  // namespace lumivale
