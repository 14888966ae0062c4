#pragma once
// Where Java runtimes are looked for: the candidate executables of Java discovery, in the order
// the Java list is built. On Linux: JAVA_HOME, the sub-folders of the usual install folders
// (/usr/lib/jvm, /usr/java, /opt/java, ~/.jdks), then PATH. On Windows: JAVA_HOME, the JavaHome
// values the Java vendors leave in the registry, the sub-folders of their install folders
// (C:\Program Files\Java, ...), then PATH. Candidates are paths only; whether a file is there
// and what it prints is decided by the discovery. Separators and the executable's name are the
// system's ("/bin/java" here stands for "\bin\java.exe" there; PATH entries split at ";").
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

struct JavaSearch {
    std::string javaHome;                  // value of JAVA_HOME; empty when unset
    std::vector<std::string> registryHomes;  // Windows: JavaHome values found in the registry
    std::vector<std::string> folderRoots;  // each sub-folder of a root may hold one runtime
    std::string pathVariable;              // value of PATH; empty when unset
};

// The install folders of this platform, in search order (~/.jdks only when HOME is known).
std::vector<std::string> DefaultJavaRoots();

// JAVA_HOME and PATH of this process with the default roots.
JavaSearch DefaultJavaSearch();

// JAVA_HOME + "/bin/java" (one trailing separator of the value dropped); nothing for an empty
// value or one of 32768 characters or more.
std::vector<std::string> JavaHomeCandidates(std::string_view javaHome);

// root + "/" + sub-folder + "/bin/java" for every sub-folder (a link to a folder counts) of
// each root, roots in the order given. Inside one root real folders come before linked ones,
// each group sorted by name, so the result never depends on the order the system lists them.
// A missing or unreadable root gives nothing.
std::vector<std::string> JavaFolderCandidates(const std::vector<std::string>& roots);

// entry + "/java" for every absolute entry of a PATH value (an entry may end in "/" or not).
// Empty and relative entries are left out: a relative path means nothing once stored.
std::vector<std::string> JavaPathCandidates(std::string_view pathVariable);

// Everything above in source order: JAVA_HOME, the registry's homes, the roots, PATH.
std::vector<std::string> JavaCandidates(const JavaSearch& search);

}  // namespace lumivale
