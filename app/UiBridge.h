#pragma once
// The page's commands: read by type and dispatched on the UI thread.
#include <string>

namespace lumivale {

class App;

// One command text as the page posted it. Unknown or malformed commands are ignored.
void HandleUiCommand(App& app, const std::string& command);

// True for the addresses "browser:open" may hand to the system: http:// and https:// only.
bool IsWebAddress(const std::string& url);

}  // namespace lumivale
