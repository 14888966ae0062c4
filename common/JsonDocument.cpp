#include "JsonDocument.h"

namespace lumivale {

namespace {

// True when arrays and objects nest more than `limit` deep outside strings. One pass over the
// text: a parser callback could refuse the same documents, but nlohmann's callback parser walks
// the enclosing object each time a member object closes, which made an asset index of a few
// thousand objects take half a second to read.
bool NestsDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

nlohmann::json ParseJsonDocument(std::string_view text, int maxDepth) {
    using json = nlohmann::json;
    if (NestsDeeperThan(text, maxDepth)) return json(json::value_t::discarded);
    return json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
}

}  // namespace lumivale
