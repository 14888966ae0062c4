#pragma once
// A desktop host: the main window and the web view inside it, made by a window toolkit that the
// executable links in. The core sees only these two interfaces.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "MainWindow.h"
#include "UiLoop.h"
#include "WebViewHost.h"

namespace lumivale {

struct DesktopHost {
    std::shared_ptr<MainWindow> window;
    std::shared_ptr<WebViewHost> view;
};

// Opens the display and drives `loop` by the toolkit's own loop; nothing when no display can be
// opened. `log` receives the host's console lines.
using DesktopHostFactory = std::function<std::optional<DesktopHost>(
    std::shared_ptr<UiLoop> loop, std::function<void(const std::string&)> log)>;
using DesktopHostOpener = std::optional<DesktopHost> (*)(std::shared_ptr<UiLoop> loop,
                                                         std::function<void(const std::string&)> log);

// A desktop host in a library of its own exports one C function of this name, which returns its
// opener.
inline constexpr const char* kDesktopHostEntry = "LumivaleDesktopHost";

// The desktop host of the library beside the executable (liblumivale-window.so here), loaded the
// first time the factory is called; when it cannot be loaded, the factory says why on stderr and
// opens nothing.
DesktopHostFactory DesktopHostFromLibrary();

}  // namespace lumivale
