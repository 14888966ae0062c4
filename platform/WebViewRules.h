#pragma once
// What the launcher's web views let through and the scripts they run in the page. Every desktop
// host (GTK with WebKit, Win32 with WebView2) asks these and only forwards: the decisions are
// the same on every system and are tested on any of them.
#include <string>
#include <string_view>

namespace lumivale {

enum class NavigationVerdict {
    Proceed,     // an ordinary navigation (web, data, about and the page's own addresses)
    ToLauncher,  // a "lumivale://" address: handed to the launcher and never loaded
    BlockedFile  // a "file://" address: never loaded (a file dropped on the window lands here)
};

// `fallbackPage` is the one file address the host wrote the page to itself when it could not be
// served otherwise (empty: none); it alone of the file addresses proceeds.
NavigationVerdict JudgeNavigation(std::string_view uri, std::string_view fallbackPage);

// Pages a host may hand to the system browser: web addresses only.
bool IsBrowserAddress(std::string_view address);

// Navigate's target: true for a web or launcher address (loaded as given, the scheme in any
// case), false for a file path (turned into a file address first).
bool IsAddressTarget(std::string_view target);

// Sets the root element's CSS variable (--bg, --logo) to a PNG given as Base64 text.
std::string PictureScript(std::string_view property, std::string_view pngBase64);

// Sets window.__bootError for the page that loads next; the text stays a string.
std::string BootErrorScript(std::string_view message);

// The page with `script` run before any of its own: a script element right after the opening
// head tag (or at the very start when the page has none). For a host that loads the page from
// its text and has no per-load start script.
std::string PageWithFirstScript(std::string_view html, std::string_view script);

// Hands one event to the page's listeners through the bridge script, or nothing when `json` is
// not one JSON value (only data reaches the page, never code).
std::string DeliveryScript(std::string_view json);

// The file address of a Windows path: "file:///" and the path with every "\" turned into "/".
std::string FileAddressOfWindowsPath(std::string_view path);

}  // namespace lumivale
