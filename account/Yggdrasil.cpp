#include "Yggdrasil.h"

#include <chrono>
#include <random>

#include "HttpTransport.h"
#include "JsonFields.h"

namespace lumivale {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The error of an answer without an access token: its "errorMessage", else its "error", else
// the fallback.
std::string ErrorOf(std::string_view response, const char* fallback) {
    std::string message = ReadTextField(response, "errorMessage");
    if (!message.empty()) return message;
    message = ReadTextField(response, "error");
    if (!message.empty()) return message;
    return fallback;
}

// Roles, selection, player name and account fields of a successful answer. An empty selected
// name takes `fallback` when it is given, otherwise the first listed role (when there is one).
void ReadAccountFields(std::string_view response, AuthResult& result, const Profile* fallback) {
    result.availableProfiles = ParseAvailableProfiles(response);

    const std::string selected = ReadObjectField(response, "selectedProfile");
    result.selectedProfile.id = ReadTextField(selected, "id");
    result.selectedProfile.name = ReadTextField(selected, "name");
    if (result.selectedProfile.name.empty()) {
        if (fallback != nullptr) {
            result.selectedProfile = *fallback;
        } else if (!result.availableProfiles.empty()) {
            result.selectedProfile = result.availableProfiles.front();
        }
    }
    result.playerName = result.selectedProfile.name;

    const std::string user = ReadObjectField(response, "user");
    result.userId = ReadTextField(user, "id");
    result.username = ReadTextField(user, "username");
    if (result.username.empty()) result.username = result.playerName;
}

}  // namespace

std::string GenerateClientToken() {
    std::random_device source;
    std::mt19937 generator(source());
    std::uniform_int_distribution<int> digit(0, 15);
    std::string token;
    token.reserve(36);
    for (const int length : {8, 4, 4, 4, 12}) {
        if (!token.empty()) token += '-';
        for (int i = 0; i < length; ++i) token += kHexDigits[digit(generator)];
    }
    return token;
}

std::string EscapeRequestText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0A: out += "\\n"; break;
            case 0x0C: out += "\\f"; break;
            case 0x0D: out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHexDigits[byte >> 4];
                    out += kHexDigits[byte & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string PostJson(const std::string& url, const std::string& body,
                     const std::string& trustedCertificates) {
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers.push_back({"Content-Type", "application/json"});
    request.headers.push_back({"Accept", "application/json"});
    request.body = body;
    request.userAgent = kHttpUserAgent;
    // The usual system defaults of an HTTP client: a minute to connect, half a minute of
    // silence while waiting for the answer.
    request.connectTimeout = std::chrono::milliseconds(60000);
    request.receiveTimeout = std::chrono::milliseconds(30000);
    request.trustedCertificates = trustedCertificates;

    std::string answer;
    const HttpResponse response = SendHttpRequest(request, answer);
    // The status is not looked at. Without an answer head nothing was received; a failure
    // while the body was coming keeps what had arrived.
    if (!response.answered) return {};
    return answer;
}

std::string ReadObjectField(std::string_view text, std::string_view key) {
    const std::size_t keyAt = text.find('"' + std::string(key) + '"');
    if (keyAt == std::string_view::npos) return {};
    const std::size_t colon = text.find(':', keyAt + key.size() + 2);
    if (colon == std::string_view::npos) return {};
    const std::size_t open = text.find('{', colon + 1);
    if (open == std::string_view::npos) return {};
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == '{') {
            ++depth;
        } else if (text[i] == '}') {
            if (--depth == 0) return std::string(text.substr(open, i - open + 1));
        }
    }
    return {};
}

std::vector<Profile> ParseAvailableProfiles(std::string_view response) {
    std::vector<Profile> profiles;
    const std::size_t keyAt = response.find("\"availableProfiles\"");
    if (keyAt == std::string_view::npos) return profiles;
    const std::size_t open = response.find('[', keyAt);
    if (open == std::string_view::npos) return profiles;
    const std::size_t close = response.find(']', open + 1);
    if (close == std::string_view::npos) return profiles;

    std::size_t from = open + 1;
    while (from < close) {
        const std::size_t objectOpen = response.find('{', from);
        if (objectOpen == std::string_view::npos || objectOpen >= close) break;
        const std::size_t objectClose = response.find('}', objectOpen + 1);
        if (objectClose == std::string_view::npos || objectClose >= close) break;
        const std::string_view object =
            response.substr(objectOpen, objectClose - objectOpen + 1);
        Profile profile{ReadTextField(object, "id"), ReadTextField(object, "name")};
        if (!profile.id.empty() && !profile.name.empty()) profiles.push_back(std::move(profile));
        from = objectClose + 1;
    }
    return profiles;
}

AuthResult Authenticate(const YggdrasilServer& server, const std::string& username,
                        const std::string& password) {
    AuthResult result;
    if (username.empty() || password.empty()) {
        result.error = kYggMissingCredentials;
        return result;
    }

    const std::string clientToken = GenerateClientToken();
    std::string body = R"({"agent":{"name":"Minecraft","version":1},"username":)";
    body += EscapeRequestText(username);
    body += R"(,"password":)";
    body += EscapeRequestText(password);
    body += R"(,"clientToken":")";
    body += clientToken;
    body += R"(","requestUser":true})";

    const std::string response =
        PostJson(server.root + "/authserver/authenticate", body, server.trustedCertificates);
    if (response.empty()) {
        result.error = kYggNetworkFailed;
        return result;
    }

    result.accessToken = ReadTextField(response, "accessToken");
    if (result.accessToken.empty()) {
        result.error = ErrorOf(response, kYggLoginFailed);
        return result;
    }
    result.success = true;
    result.clientToken = clientToken;
    ReadAccountFields(response, result, nullptr);
    return result;
}

AuthResult Refresh(const YggdrasilServer& server, const std::string& accessToken,
                   const std::string& clientToken, const Profile& profile) {
    AuthResult result;
    if (accessToken.empty() || profile.id.empty() || profile.name.empty()) {
        result.error = kYggIncompleteRole;
        return result;
    }

    std::string body = R"({"accessToken":")";
    body += accessToken;
    body += R"(","clientToken":")";
    body += clientToken;
    body += R"(","selectedProfile":{"id":")";
    body += profile.id;
    body += R"(","name":)";
    body += EscapeRequestText(profile.name);
    body += R"(},"requestUser":true})";

    const std::string response =
        PostJson(server.root + "/authserver/refresh", body, server.trustedCertificates);
    if (response.empty()) {
        result.error = kYggNetworkFailed;
        return result;
    }

    result.accessToken = ReadTextField(response, "accessToken");
    if (result.accessToken.empty()) {
        result.error = ErrorOf(response, kYggRefreshFailed);
        return result;
    }
    result.success = true;
    result.clientToken = clientToken;
    ReadAccountFields(response, result, &profile);
    return result;
}

}  // namespace lumivale
