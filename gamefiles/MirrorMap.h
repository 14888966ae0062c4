#pragma once
#include <string>

namespace lumivale {

// The BMCLAPI mirror form of an official game file URL; a URL the map does not know comes back
// unchanged.
std::string RewriteToMirror(const std::string& url);

}  // namespace lumivale
