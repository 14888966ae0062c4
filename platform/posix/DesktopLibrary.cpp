// The window library, opened with the dynamic loader the first time a window is to open.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "DesktopHost.h"
#include "Paths.h"

namespace lumivale {

DesktopHostFactory DesktopHostFromLibrary() {
    return [](std::shared_ptr<UiLoop> loop,
              std::function<void(const std::string&)> log) -> std::optional<DesktopHost> {
        const std::string file = (ExecutableFolder() / "liblumivale-window.so").string();
        // Never closed: the toolkit it brings stays until the process ends.
        void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* reason = ::dlerror();
            std::fprintf(stderr, "[Lumivale] 无法加载窗口界面：%s\n", reason ? reason : file.c_str());
            return std::nullopt;
        }
        using Entry = DesktopHostOpener (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(library, kDesktopHostEntry));
        const DesktopHostOpener open = entry ? entry() : nullptr;
        if (open == nullptr) {
            std::fprintf(stderr, "[Lumivale] 窗口界面库不完整：%s\n", file.c_str());
            return std::nullopt;
        }
        return open(std::move(loop), std::move(log));
    };
}

}  // namespace lumivale
