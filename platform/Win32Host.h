#pragma once
// The Win32 + WebView2 desktop host of the Windows build; this header carries no system headers.
#include "DesktopHost.h"

namespace lumivale {

std::optional<DesktopHost> OpenWin32Host(std::shared_ptr<UiLoop> loop, std::function<void(const std::string&)> log);

}  // namespace lumivale
