#pragma once
// Folding the version JSON that the Forge installer wrote into the pack's own core: one
// self-contained JSON with no "inheritsFrom".
#include <string>

#include <nlohmann/json.hpp>

namespace lumivale {

// The merge key of a library "name": group:artifact, plus ":" + classifier when the name has a
// fourth part; a name of fewer than two parts is its own key.
std::string LibraryMergeKey(const std::string& name);

// The vanilla JSON with Forge's libraries folded in by merge key (a later one replaces an earlier
// one at the earlier one's position), Forge's "game" and "jvm" arguments appended, and every
// other non-empty Forge member taken except "id", "inheritsFrom", "_comment_", "libraries",
// "arguments", "time" and "releaseTime". The result's "id" is `id`; its "clientVersion" is the
// vanilla "id" (the game version) unless Forge names one.
nlohmann::json MergeForgeVersionJson(const nlohmann::json& vanilla, const nlohmann::json& forge,
                                     const std::string& id);

}  // namespace lumivale
