#pragma once
// Every remote base address the launcher talks to, in one place. Each built-in base can be
// replaced for one run by an environment variable (tests point them at loopback servers).
#include <functional>
#include <optional>
#include <string>

namespace lumivale {

struct Endpoints {
    std::string littleSkinBase;           // no trailing "/"
    std::string mirrorBase;               // BMCLAPI; ends with "/"
    std::string officialDataBase;         // ends with "/"
    std::string officialLibrariesBase;    // ends with "/"
    std::string officialMavenBase;        // ends with "/"
    std::string officialMetaBase;         // ends with "/"
    std::string officialAssetsBase;       // ends with "/"
    std::string curseForgeApiBase;        // no trailing "/"
    std::string authlibInjectorBase;      // the authentication agent's own site; ends with "/"
    std::string fabricMetaBase;           // Fabric's version metadata; ends with "/"
    std::string quiltMetaBase;            // Quilt's version metadata; ends with "/"
    std::string neoForgeMavenBase;        // NeoForge's releases repository; ends with "/"
    std::optional<std::string> backendBase;  // only when LUMIVALE_BACKEND_BASE is set

    // The Yggdrasil root handed to the game's authentication agent.
    std::string YggdrasilRoot() const { return littleSkinBase + "/api/yggdrasil"; }
    // The mirror's copy of the agent's site.
    std::string AuthlibInjectorMirrorBase() const { return mirrorBase + "mirrors/authlib-injector/"; }
};

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The built-in bases with the overrides that `lookup` finds.
Endpoints LoadEndpoints(const EnvironmentLookup& lookup);

// The process's endpoints, read from the environment on first use.
const Endpoints& GetEndpoints();

// The backend base: an override for this run, else the configured server_url when non-empty,
// else the built-in base.
std::string BackendBase(const Endpoints& endpoints, const std::string& serverUrl);

}  // namespace lumivale
