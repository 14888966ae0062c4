#pragma once
// The GTK 3 + WebKitGTK desktop host. Only the launcher executable links its library; this header
// carries no toolkit headers.
#include "DesktopHost.h"

namespace lumivale {

std::optional<DesktopHost> OpenGtkHost(std::shared_ptr<UiLoop> loop,
                                       std::function<void(const std::string&)> log);

}  // namespace lumivale
