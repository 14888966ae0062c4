#pragma once
// Files compiled into the program.
#include <cstdint>
#include <span>

namespace lumivale {

enum ResourceId : int {
    IDR_APP_HTML = 200,   // the UI page, UTF-8
    IDR_BG_PNG = 201,     // background picture
    IDR_LOGO_PNG = 202,   // logo picture
    IDR_AGENT_JAR = 203,  // the authentication agent jar, when the build had it
    IDR_CRASH_RULES = 204,  // the crash rules (launch/crash-rules.json), UTF-8
};

// The resource's bytes; empty when the build did not carry it.
std::span<const std::uint8_t> GetResource(int id);

}  // namespace lumivale
