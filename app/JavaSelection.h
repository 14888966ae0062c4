#pragma once
// Which Java runs a core: the player's explicit choice, or on "auto" the first listed Java of
// the major version the game needs.
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

struct JavaChoice {
    bool ok = false;
    std::string javaPath;
    std::string message;  // the "game:info" text when ok, else the "game:error" reason
};

JavaChoice ChooseJavaForCore(const std::string& selectedJava, const std::vector<JavaInstall>& javaList,
                             const CoreEntry& core);

}  // namespace lumivale
