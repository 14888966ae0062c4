#include "OAuth.h"

#include <chrono>

#include "CloudClient.h"
#include "HttpTransport.h"
#include "JsonDocument.h"
#include "JsonFields.h"

namespace lumivale {

namespace {

std::string Send(HttpRequest request) {
    request.userAgent = kHttpUserAgent;
    // The usual defaults of an HTTP client: a minute to connect, half a minute of silence.
    request.connectTimeout = std::chrono::milliseconds(60000);
    request.receiveTimeout = std::chrono::milliseconds(30000);
    std::string answer;
    if (!SendHttpRequest(request, answer).answered) return {};
    return answer;
}

}  // namespace

std::string BuildAuthorizeUrl(const OAuthConfig& config, const std::string& siteBase) {
    return siteBase + "/oauth/authorize?client_id=" + config.clientId +
           "&redirect_uri=" + PercentEncode(config.redirectUri) + "&response_type=code" +
           "&scope=User.Read+Yggdrasil.PlayerProfiles.Read+Yggdrasil.MinecraftToken.Create";
}

std::string QueryValue(std::string_view address, std::string_view name) {
    std::size_t at = address.find("?" + std::string(name) + "=");
    if (at == std::string_view::npos) at = address.find("&" + std::string(name) + "=");
    if (at == std::string_view::npos) return {};
    const std::size_t from = at + name.size() + 2;
    const std::size_t end = address.find('&', from);
    return std::string(address.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
}

std::string PostTokenForm(const std::string& siteBase, const std::string& form) {
    HttpRequest request;
    request.method = "POST";
    request.url = siteBase + "/oauth/token";
    request.headers.push_back({"Content-Type", "application/x-www-form-urlencoded"});
    request.body = form;
    return Send(std::move(request));
}

std::string GetWithBearer(const std::string& siteBase, const std::string& path, const std::string& token) {
    HttpRequest request;
    request.method = "GET";
    request.url = siteBase + path;
    request.headers.push_back({"Authorization", "Bearer " + token});
    request.headers.push_back({"Accept", "application/json"});
    return Send(std::move(request));
}

std::optional<OAuthAccount> ExchangeCode(const OAuthConfig& config, const std::string& code,
                                         const std::string& siteBase) {
    // The site expects the values as they are: nothing in the form is percent-encoded.
    const std::string form = "grant_type=authorization_code&client_id=" + config.clientId +
                             "&client_secret=" + config.clientSecret + "&code=" + code +
                             "&redirect_uri=" + config.redirectUri;
    const std::string answer = PostTokenForm(siteBase, form);
    if (answer.empty()) return std::nullopt;
    OAuthAccount account;
    account.accessToken = ReadTextField(answer, "access_token");
    if (account.accessToken.empty()) return std::nullopt;

    // An error page is no answer either: without an id the stored account stays as it was.
    // The answer is read as a document: the site may send the id as a number.
    const nlohmann::json user = ParseJsonDocument(GetWithBearer(siteBase, "/api/user", account.accessToken));
    const auto text = [&user](const char* key) -> std::string {
        const auto found = user.is_object() ? user.find(key) : user.end();
        if (found == user.end()) return {};
        if (found->is_string()) return found->get<std::string>();
        if (found->is_number_integer()) return found->dump();
        return {};
    };
    account.accountId = text("id");
    if (!account.accountId.empty()) {
        account.userAnswered = true;
        account.accountName = text("email");
        if (account.accountName.empty()) account.accountName = text("username");
    }
    return account;
}

}  // namespace lumivale
