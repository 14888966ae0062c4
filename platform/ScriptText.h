#pragma once
// Text placed inside a double-quoted JavaScript string that a host runs in the page.
#include <string>

namespace lumivale {

// Backslash and double quote get a backslash, line feed and carriage return become \n and \r,
// and "<" becomes \u003c, so that the text can never close a script element.
std::string EscapeForScriptString(const std::string& text);

}  // namespace lumivale
