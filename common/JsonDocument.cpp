#include "JsonDocument.h"

namespace lumivale {

nlohmann::json ParseJsonDocument(std::string_view text, int maxDepth) {
    using json = nlohmann::json;
    bool tooDeep = false;
    // The callback sees each array and object as it opens; one too deep is skipped whole, and
    // the document is refused afterwards.
    const json::parser_callback_t limit = [&](int depth, json::parse_event_t event, json&) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
            depth >= maxDepth) {
            tooDeep = true;
            return false;
        }
        return !tooDeep;
    };
    json parsed = json::parse(text.begin(), text.end(), limit, /*allow_exceptions=*/false,
                              /*ignore_comments=*/false);
    if (tooDeep) return json(json::value_t::discarded);
    return parsed;
}

}  // namespace lumivale
