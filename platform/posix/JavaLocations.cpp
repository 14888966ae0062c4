#include "JavaLocations.h"
#include "Paths.h"

namespace lumivale {

std::vector<std::string> DefaultJavaRoots() {
    std::vector<std::string> roots = {"/usr/lib/jvm", "/usr/java", "/opt/java"};
    if (auto home = EnvironmentValue("HOME")) {
        std::string folder = *home;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        roots.push_back(folder + "/.jdks");
    }
    return roots;
}

JavaSearch DefaultJavaSearch() {
    JavaSearch search;
    search.javaHome = EnvironmentValue("JAVA_HOME").value_or("");
    search.folderRoots = DefaultJavaRoots();
    search.pathVariable = EnvironmentValue("PATH").value_or("");
    return search;
}

}  // namespace lumivale
