#pragma once
// Where a redirect leads and whether the launcher goes there. A Location value is resolved
// against the address that answered as RFC 3986 (section 5) says: "x.jar" answered by
// "https://h/a/b.jar" leads to "https://h/a/x.jar", "/x.jar" to "https://h/x.jar", "//g/x" to
// "https://g/x". The fragment is dropped: it is never sent.
#include <string>
#include <string_view>

namespace lumivale {

std::string ResolveLocation(std::string_view base, std::string_view location);

// A redirect is followed to http:// or https:// only, never from https:// to http:// (which would
// hand the rest of the transfer to anyone on the way).
bool RedirectAllowed(std::string_view from, std::string_view to);

}  // namespace lumivale
