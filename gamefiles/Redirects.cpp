#include "Redirects.h"

#include <cctype>
#include <optional>

namespace lumivale {

namespace {

// The five parts of a URI reference; the authority and query are absent or present (maybe empty).
struct Parts {
    std::string scheme;  // lower case; empty when absent
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
};

Parts Split(std::string_view text) {
    Parts parts;
    if (const auto hash = text.find('#'); hash != std::string_view::npos) text = text.substr(0, hash);
    // A scheme is a letter, then letters, digits, "+", "-" or ".", then ":" before any "/?".
    const auto colon = text.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        std::isalpha(static_cast<unsigned char>(text[0])) &&
        text.substr(0, colon).find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") ==
            std::string_view::npos) {
        for (const char c : text.substr(0, colon))
            parts.scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        text.remove_prefix(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const auto end = text.find_first_of("/?");
        parts.authority = std::string(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end);
    }
    if (const auto question = text.find('?'); question != std::string_view::npos) {
        parts.query = std::string(text.substr(question + 1));
        text = text.substr(0, question);
    }
    parts.path = std::string(text);
    return parts;
}

// "." and ".." segments taken out (RFC 3986, 5.2.4).
std::string RemoveDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            const auto last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            const auto next = input.find('/', 1);
            output += input.substr(0, next);
            input = next == std::string_view::npos ? std::string_view() : input.substr(next);
        }
    }
    return output;
}

// The reference's path merged with the base's (RFC 3986, 5.2.3).
std::string Merge(const Parts& base, const std::string& path) {
    if (base.authority && base.path.empty()) return "/" + path;
    const auto slash = base.path.rfind('/');
    return slash == std::string::npos ? path : base.path.substr(0, slash + 1) + path;
}

}  // namespace

std::string ResolveLocation(std::string_view base, std::string_view location) {
    const Parts from = Split(base);
    const Parts reference = Split(location);
    Parts target;
    if (!reference.scheme.empty()) {
        target = reference;
        target.path = RemoveDotSegments(reference.path);
    } else {
        target.scheme = from.scheme;
        if (reference.authority) {
            target.authority = reference.authority;
            target.path = RemoveDotSegments(reference.path);
            target.query = reference.query;
        } else {
            target.authority = from.authority;
            if (reference.path.empty()) {
                target.path = from.path;
                target.query = reference.query ? reference.query : from.query;
            } else {
                target.path = RemoveDotSegments(
                    reference.path.starts_with("/") ? reference.path : Merge(from, reference.path));
                target.query = reference.query;
            }
        }
    }
    std::string result;
    if (!target.scheme.empty()) result = target.scheme + ":";
    if (target.authority) result += "//" + *target.authority;
    result += target.path;
    if (target.query) result += "?" + *target.query;
    return result;
}

bool RedirectAllowed(std::string_view from, std::string_view to) {
    const std::string toScheme = Split(to).scheme;
    if (toScheme == "https") return true;
    return toScheme == "http" && Split(from).scheme != "https";
}

}  // namespace lumivale
