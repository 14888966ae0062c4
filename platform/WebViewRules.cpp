#include "WebViewRules.h"

#include <nlohmann/json.hpp>

#include "ScriptText.h"

namespace lumivale {

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

NavigationVerdict JudgeNavigation(std::string_view uri, std::string_view fallbackPage) {
    // Exact and case-sensitive, as the redirect address is written.
    if (uri.starts_with("lumivale://")) return NavigationVerdict::ToLauncher;
    // Any case: "FILE:///C:/x" opens a file just the same.
    if (StartsWithIgnoringCase(uri, "file:") && (fallbackPage.empty() || uri != fallbackPage)) {
        return NavigationVerdict::BlockedFile;
    }
    return NavigationVerdict::Proceed;
}

bool IsBrowserAddress(std::string_view address) {
    return StartsWithIgnoringCase(address, "http://") || StartsWithIgnoringCase(address, "https://");
}

bool IsAddressTarget(std::string_view target) {
    return StartsWithIgnoringCase(target, "http://") || StartsWithIgnoringCase(target, "https://") ||
           StartsWithIgnoringCase(target, "lumivale://");
}

std::string PictureScript(std::string_view property, std::string_view pngBase64) {
    if (pngBase64.empty()) return {};
    return "document.documentElement.style.setProperty('" + std::string(property) + "','url(\"data:image/png;base64," +
           std::string(pngBase64) + "\")')";
}

std::string PageWithFirstScript(std::string_view html, std::string_view script) {
    const std::string element = "<script>" + std::string(script) + "</script>";
    std::string lower(html);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    // "<head>" or "<head " with attributes, not "<header>".
    for (std::size_t at = lower.find("<head"); at != std::string::npos; at = lower.find("<head", at + 5)) {
        const char next = at + 5 < lower.size() ? lower[at + 5] : '\0';
        if (next != '>' && next != ' ' && next != '\t' && next != '\n' && next != '\r') continue;
        const std::size_t end = lower.find('>', at);
        if (end == std::string::npos) break;
        std::string page(html);
        page.insert(end + 1, element);
        return page;
    }
    return element + std::string(html);
}

std::string BootErrorScript(std::string_view message) {
    return "window.__bootError=\"" + EscapeForScriptString(std::string(message)) + "\";";
}

std::string DeliveryScript(std::string_view json) {
    if (!nlohmann::json::accept(json)) return {};
    return "window.__lumivaleDeliver&&window.__lumivaleDeliver(" + std::string(json) + ");";
}

std::string FileAddressOfWindowsPath(std::string_view path) {
    std::string address = "file:///";
    for (char c : path) address += c == '\\' ? '/' : c;
    return address;
}

}  // namespace lumivale
