#pragma once
// LittleSkin's OAuth 2.0 authorization-code sign-in: the address of the site's own sign-in page,
// the redirect back to the launcher, and the exchange of the code for the account's token.
// Blocking calls; they touch no launcher state.
#include <optional>
#include <string>
#include <string_view>

namespace lumivale {

// Built into the program (scrambled) and copied for each use.
struct OAuthConfig {
    std::string clientId;      // 4 characters
    std::string clientSecret;  // 40 characters
    std::string redirectUri;   // 25 characters, "lumivale://..."
};

// The redirect scheme the panel watches for.
inline constexpr std::string_view kOAuthRedirectScheme = "lumivale://";
inline constexpr const char* kOAuthExchangeFailed = "token 换取失败";
inline constexpr const char* kOAuthExchangeFailedShown = "token 换取失败，请重试";

// siteBase + "/oauth/authorize?client_id=…&redirect_uri=<percent-encoded>&response_type=code&scope=…".
std::string BuildAuthorizeUrl(const OAuthConfig& config, const std::string& siteBase);

// The value of `name` in an address's query: after "?name=" or else "&name=", up to the next
// "&"; not percent-decoded. Empty when absent.
std::string QueryValue(std::string_view address, std::string_view name);

// POST siteBase + "/oauth/token" with a form body; the whole answer whatever its status, empty
// when none arrived.
std::string PostTokenForm(const std::string& siteBase, const std::string& form);
// GET siteBase + path with "Authorization: Bearer <token>"; as above.
std::string GetWithBearer(const std::string& siteBase, const std::string& path, const std::string& token);

// What a successful exchange yields. userAnswered is false when "/api/user" gave no answer with
// an "id" (the caller keeps the old account id and name then).
struct OAuthAccount {
    std::string accessToken;
    bool userAnswered = false;
    std::string accountId;
    std::string accountName;  // "email", else "username"
};

// Exchanges `code` for a token and reads the account; nothing when no token came back.
std::optional<OAuthAccount> ExchangeCode(const OAuthConfig& config, const std::string& code,
                                         const std::string& siteBase);

}  // namespace lumivale
