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
    int javaMajor = 0;    // of the chosen Java; 0 when not known
};

// The Java major a core needs: the javaVersion.majorVersion its JSON declares (16 read as 17: no
// Java 16 is maintained and 17 runs those games), else the rule for its game version.
int RequiredJavaForCore(const CoreEntry& core);

JavaChoice ChooseJavaForCore(const std::string& selectedJava, const std::vector<JavaInstall>& javaList,
                             const CoreEntry& core);

}  // namespace lumivale
