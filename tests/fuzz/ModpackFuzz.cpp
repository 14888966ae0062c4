// Any manifest.json or modrinth.index.json is read without faults, and a plan that is accepted
// names no folder outside the game folder: its pack name and versions are plain names.
#include "FuzzTarget.h"
#include "ModpackPlan.h"

using namespace lumivale;
using lumivale::fuzz::FuzzCheck;

namespace {

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

LUMIVALE_FUZZ_TARGET(Modpack) {
    const std::string text = fuzz::AsText(data, size);
    for (const auto read : {ReadCurseForgePlan, ReadModrinthPlan}) {
        ModpackPlan plan;
        std::string error;
        if (!read(text, plan, error)) {
            FuzzCheck(!error.empty(), "a refused pack says why");
            continue;
        }
        FuzzCheck(IsPlainName(plan.name) && IsPlainName(plan.gameVersion), "names are plain");
        FuzzCheck(plan.forgeVersion.empty() || IsPlainName(plan.forgeVersion), "the Forge version is plain");
        for (const std::string& prefix : plan.overrides) FuzzCheck(prefix.ends_with('/'), "override prefixes end in /");
    }
    return 0;
}
