#include "Resources.h"

#include <cstddef>

extern const unsigned char lumivale_res_app_html_data[];
extern const std::size_t lumivale_res_app_html_size;
extern const unsigned char lumivale_res_bg_png_data[];
extern const std::size_t lumivale_res_bg_png_size;
extern const unsigned char lumivale_res_logo_png_data[];
extern const std::size_t lumivale_res_logo_png_size;
extern const unsigned char lumivale_res_agent_jar_data[];
extern const std::size_t lumivale_res_agent_jar_size;
extern const unsigned char lumivale_res_crash_rules_data[];
extern const std::size_t lumivale_res_crash_rules_size;

namespace lumivale {

std::span<const std::uint8_t> GetResource(int id) {
    switch (id) {
        case IDR_APP_HTML:
            return {lumivale_res_app_html_data, lumivale_res_app_html_size};
        case IDR_BG_PNG:
            return {lumivale_res_bg_png_data, lumivale_res_bg_png_size};
        case IDR_LOGO_PNG:
            return {lumivale_res_logo_png_data, lumivale_res_logo_png_size};
        case IDR_AGENT_JAR:
            return {lumivale_res_agent_jar_data, lumivale_res_agent_jar_size};
        case IDR_CRASH_RULES:
            return {lumivale_res_crash_rules_data, lumivale_res_crash_rules_size};
        default:
            return {};
    }
}

}  // namespace lumivale
