#pragma once
// Every JSON document that comes from outside (version JSONs, modpack manifests, server answers,
// stored files) is parsed here: strict JSON, and nesting deeper than any real document needs is
// refused at parse time, so that no later copy or walk of the value can exhaust the stack.
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumivale {

// Real version JSONs nest about 8 levels; manifests and answers fewer.
inline constexpr int kMaxJsonDepth = 64;

// The parsed value, or a discarded value (is_discarded()) for text that is not JSON or nests
// deeper than `maxDepth` arrays and objects. Never throws.
nlohmann::json ParseJsonDocument(std::string_view text, int maxDepth = kMaxJsonDepth);

}  // namespace lumivale
