#include "ScriptText.h"

namespace lumivale {

std::string EscapeForScriptString(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '<': out += "\\u003c"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace lumivale
