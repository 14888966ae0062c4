#pragma once
// Values shared by the settings, the reports and the launch.
#include <string>

namespace lumivale {

// One Java runtime the launcher knows.
struct JavaInstall {
    std::string name;     // first line of its "java -version" output
    std::string exe;      // full path of the java executable
    bool manual = false;  // added by the player rather than found by discovery
};

// One game core: a version folder of the game directory.
struct CoreEntry {
    std::string name;         // folder name
    std::string folder;       // full path; what "selected_core" holds
    std::string jar;          // the core's jar
    std::string realVersion;  // the game version the core is based on
    int javaMajor = 0;        // javaVersion.majorVersion its version JSON declares; 0 = none
};

}  // namespace lumivale
