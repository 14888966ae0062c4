// Any version JSON, with any parent, resolves without faults: the merge, the class path, the
// natives, the files each library needs and the argument lists. The input is the core's JSON, then
// a zero byte, then its parent's JSON (stored as versions/p/p.json of a scratch game folder).
#include <filesystem>
#include <fstream>

#include "FuzzTarget.h"
#include "JsonDocument.h"
#include "VersionManifest.h"

using namespace lumivale;
namespace fs = std::filesystem;

namespace {

const fs::path& GameRoot() {
    static const fs::path root = [] {
        const fs::path folder = fuzz::ScratchFolder() / "game";
        fs::create_directories(folder / "versions" / "p");
        return folder;
    }();
    return root;
}

}  // namespace

LUMIVALE_FUZZ_TARGET(VersionJson) {
    const std::string input = fuzz::AsText(data, size);
    const std::size_t split = input.find('\0');
    const std::string root = GameRoot().string();
    {
        std::ofstream parent(GameRoot() / "versions" / "p" / "p.json", std::ios::binary | std::ios::trunc);
        if (split != std::string::npos) parent << input.substr(split + 1);
    }
    const nlohmann::json core = ParseJsonDocument(input.substr(0, split));
    if (core.is_discarded()) return 0;

    const VersionManifest manifest = resolveVersionManifest(core, root);
    (void)buildClasspathEntries(manifest, root, root + "/versions/c/c.jar");
    (void)nativeArchives(manifest);
    if (manifest.is_object()) {
        const auto libraries = manifest.find("libraries");
        if (libraries != manifest.end() && libraries->is_array()) {
            for (const auto& library : *libraries) (void)libraryFiles(library, "https://libraries.example/");
        }
        const auto arguments = manifest.find("arguments");
        if (arguments != manifest.end() && arguments->is_object()) {
            for (const char* kind : {"game", "jvm"}) {
                if (arguments->contains(kind)) (void)evaluateArgumentList((*arguments)[kind]);
            }
        }
    }
    bool complete = false;
    (void)declaredJavaMajor(loadVersionChain(root, "p", complete));
    return 0;
}
