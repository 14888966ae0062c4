// The command scanners read any bytes without faults, and the escaper's output is always the body
// of a valid JSON string that reads back as the input (when the input is UTF-8 to begin with).
#include <nlohmann/json.hpp>

#include "FuzzTarget.h"
#include "JsonFields.h"

using namespace lumivale;
using lumivale::fuzz::FuzzCheck;
using lumivale::fuzz::IsUtf8;

LUMIVALE_FUZZ_TARGET(JsonFields) {
    const std::string text = fuzz::AsText(data, size);
    (void)ReadTextField(text, "type");
    (void)ReadIntField(text, "port");
    (void)ReadArrayField(text, "list");

    const std::string escaped = EscapeJsonText(text);
    const std::string event = R"({"type":"x","value":")" + escaped + R"("})";
    FuzzCheck(nlohmann::json::accept(event), "an event built with the escaper is valid JSON");
    if (IsUtf8(text)) {
        FuzzCheck(nlohmann::json::parse(event)["value"] == text, "the escaped text reads back as it was");
        FuzzCheck(ReadTextField(event, "value") == text, "the scanner reads the escaped text back");
    }
    return 0;
}
