#pragma once
// Sign-in through LittleSkin's own page: the side panel (or, without one, the main page) shows
// the site; its redirect back to the launcher carries the code that becomes the account's token.
#include <string>

namespace lumivale {

class App;

// "oauth:login".
void OnOAuthLogin(App& app);
// A "lumivale://" address reached by the main page (the flow without a panel).
void OnMainRedirect(App& app, const std::string& address);
// Closes the panel when it is open.
void CloseAuthPanel(App& app);

}  // namespace lumivale
